// File extraction: one entry's bytes from the archive into a new file,
// which takes its name only once every byte is there.
#include "extract/entry_name.h"
#include "extract/extract_state.h"

namespace kelvarin {

void ExtractState::extract_entry(const EntryVisit& file) {
  const EntryNode& node = index_.node(file.entry);
  platform::native_name(file.name, name_);
  if (options_.skip_existing && skip_existing(file, node.file_size)) return;
  reporter_.file(file, node.file_size);
  // The index checks let only files with a position and a size through.
  const std::uint64_t position = *index_.data_position(file.entry);
  const auto length = static_cast<std::uint64_t>(node.file_size);
  if (!current_folder().fresh || !write_fresh_file(file, position, length)) {
    write_file(file, position, length);
  }
}

// Whatever holds the name from before the run stays as it is: a file, a
// folder, a link (not followed). A fresh folder holds nothing from before.
bool ExtractState::skip_existing(const EntryVisit& file, std::int32_t size) {
  OutputFolder& folder = current_folder();
  if (folder.fresh || folder.written.count(name_) != 0) return false;
  if (platform::name_is_free(folder.folder, name_)) {
    folder.written.insert(name_);
    return false;
  }
  ++summary_.skipped;
  reporter_.skipped(file, size);
  return true;
}

// In a fresh folder nobody sees the name before the folder is complete, so
// a free name is written directly and a file that fails is removed again.
// False when the name is taken (the archive holds it twice): the way below
// keeps the earlier file until the later one is whole.
bool ExtractState::write_fresh_file(const EntryVisit& file, std::uint64_t position,
                                    std::uint64_t length) {
  const platform::Folder& folder = current_folder().folder;
  platform::FileHandle output;
  const Error created = platform::create_new_file(folder, name_, output);
  if (platform::name_taken(created)) return false;
  if (!created.ok()) {
    ++summary_.failed;
    report("Unable to create file: " + shown_path(file) + ": " + created.cause());
    return true;
  }
  Error copied;
  try {
    copied = platform::copy_range(index_.archive(), position, length, output, copy_buffer_);
  } catch (...) {
    // The copy buffer couldn't be had: the walk stops, and the folder it
    // then names must not hold this file empty.
    output.close();
    platform::remove_file(folder, name_);
    throw;
  }
  if (copied.ok()) copied = output.close();
  if (copied.ok()) {
    ++summary_.files_written;
    summary_.bytes_written += length;
    return true;
  }
  output.close();
  report_copy_failure(file, copied, platform::remove_file(folder, name_));
  return true;
}

void ExtractState::write_file(const EntryVisit& file, std::uint64_t position, std::uint64_t length) {
  const platform::Folder& folder = current_folder().folder;
  const TemporaryName temp(file.name, false);
  temp_name_.assign(temp.text().begin(), temp.text().end());
  platform::NewFile output;
  Error error = output.begin(folder, temp_name_);
  if (error.ok()) {
    error = platform::copy_range(index_.archive(), position, length, output.handle(), copy_buffer_);
    if (error.ok()) {
      error = output.finish(folder, temp_name_, name_);
    } else {
      output.abandon(folder, temp_name_);
    }
  }
  if (error.ok()) {
    ++summary_.files_written;
    summary_.bytes_written += length;
  } else if (error.step() == Error::Step::read || error.step() == Error::Step::write) {
    report_copy_failure(file, error);
  } else {
    ++summary_.failed;
    report("Unable to create file: " + shown_path(file) + ": " + error.cause());
  }
}

// `left` is a failure to remove what was written, which then stays under
// the file's name.
void ExtractState::report_copy_failure(const EntryVisit& file, const Error& error,
                                       const Error& left) {
  ++summary_.failed;
  std::string where = shown_path(file);
  if (!left.ok()) where += " (the part written stays: " + left.cause() + ")";
  if (error.step() == Error::Step::read) {
    report("Unable to read the data of entry " + std::to_string(file.entry) + " for " + where +
           ": " + error.cause());
  } else {
    report("Unable to write file: " + where + ": " + error.cause());
  }
}

}  // namespace kelvarin
