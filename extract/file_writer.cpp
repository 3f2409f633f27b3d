// File extraction: one entry's bytes from the archive into a new file,
// which takes its name only once every byte is there.
#include "extract/extraction_run.h"
#include "names/entry_name.h"

namespace kelvarin {

void ExtractionRun::extract_file(const EntryVisit& file, const PlannedEntry& planned) {
  const EntryNode& node = index_.node(file.entry);
  platform::native_name(file.name, name_);
  if (options_.skip_existing && skip_existing(file, planned)) return;
  reporter_.file(file, node.file_size);
  // The plan lets only files with a position and a size through.
  const std::uint64_t position = *index_.data_position(file.entry);
  const auto length = static_cast<std::uint64_t>(node.file_size);
  if (!current_folder().fresh || !write_fresh_file(file, position, length)) {
    write_file(file, position, length);
  }
}

// Whatever holds the name from before the run stays as it is: a file, a
// folder, a link (not followed). A fresh folder holds nothing from before;
// a later file of a name replaces the one this run wrote, and is left
// alone with the first one.
bool ExtractionRun::skip_existing(const EntryVisit& file, const PlannedEntry& planned) {
  const std::uint32_t first = planned.place();
  const bool held = first != file.entry ? left_alone_[first]
                                        : !current_folder().fresh && !files_.name_is_free(current_folder().folder, name_);
  if (!held) return false;
  left_alone_[file.entry] = true;
  ++summary_.skipped;
  reporter_.skipped(file, index_.node(file.entry).file_size);
  return true;
}

// In a fresh folder nobody sees the name before the folder is complete, so
// a free name is written directly and a file that fails is removed again.
// False when the name is taken (the archive holds it twice): the way below
// keeps the earlier file until the later one is whole.
bool ExtractionRun::write_fresh_file(const EntryVisit& file, std::uint64_t position, std::uint64_t length) {
  const platform::Folder& folder = current_folder().folder;
  platform::FileHandle output;
  const Error created = files_.create_new_file(folder, name_, output);
  if (created.is_name_taken()) return false;
  if (!created.ok()) {
    file_failed(file, created);
    return true;
  }
  Error copied;
  try {
    copied = files_.copy_range(index_.archive(), position, length, output, copy_buffer_);
  } catch (...) {
    // The copy buffer couldn't be had: the walk stops, and the folder it
    // then names must not hold this file empty.
    output.close();
    files_.remove_file(folder, name_);
    throw;
  }
  if (copied.ok()) copied = files_.close(output);
  if (copied.ok()) {
    ++summary_.files_written;
    summary_.bytes_written += length;
    return true;
  }
  output.close();
  file_failed(file, copied, files_.remove_file(folder, name_));
  return true;
}

void ExtractionRun::write_file(const EntryVisit& file, std::uint64_t position, std::uint64_t length) {
  const platform::Folder& folder = current_folder().folder;
  const TemporaryName temp(file.name, false);
  temp_name_.assign(temp.text().begin(), temp.text().end());
  platform::NewFile output(files_);
  Error error = output.begin(folder, temp_name_);
  if (error.ok()) {
    error = files_.copy_range(index_.archive(), position, length, output.handle(), copy_buffer_);
    if (error.ok()) {
      error = output.finish(folder, temp_name_, name_);
    } else {
      output.abandon(folder, temp_name_);
    }
  }
  if (error.ok()) {
    ++summary_.files_written;
    summary_.bytes_written += length;
    return;
  }
  file_failed(file, error);
}

void ExtractionRun::file_failed(const EntryVisit& file, const Error& error, const Error& left) {
  ++summary_.failed;
  reporter_.file_failed(file, error, left);
}

}  // namespace kelvarin
