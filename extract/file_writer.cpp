// The writing of one file, by whichever runner of the pool takes it: its
// bytes from the archive into a new file, which takes its name only once
// every byte is there. What became of it stays in its slot until the walk
// tells of it.
#include <new>

#include "extract/extraction_run.h"
#include "names/entry_name.h"

namespace kelvarin {

void ExtractionRun::run(std::uint64_t job, unsigned runner) noexcept {
  write(slots_[job % slots_.size()], states_[runner]);
}

void ExtractionRun::write(Slot& slot, WriterState& state) {
  try {
    platform::native_name(slot.name, state.name);
    // Whatever holds the first file's name from before the run stays as it
    // is: a file, a folder, a link (not followed). A fresh folder holds
    // nothing from before.
    if (options_.skip_existing && slot.first_of_name && !slot.fresh &&
        !files_.name_is_free(slot.folder->folder, state.name)) {
      slot.left_alone = true;
      return;
    }
    // The plan lets only files with a position and a size through.
    const std::uint64_t position = *index_.data_position(slot.entry);
    const auto length = static_cast<std::uint64_t>(index_.node(slot.entry).file_size);
    if (!slot.fresh || !write_fresh_file(slot, state, position, length)) write_file(slot, state, position, length);
  } catch (const std::bad_alloc&) {
    slot.out_of_memory = true;
  }
}

// In a fresh folder nobody sees the name before the folder is complete, so
// a free name is written directly and a file that fails is removed again.
// False when the name is taken (the archive holds it twice): the way below
// keeps the earlier file until the later one is whole.
bool ExtractionRun::write_fresh_file(Slot& slot, WriterState& state, std::uint64_t position, std::uint64_t length) {
  const platform::Folder& folder = slot.folder->folder;
  platform::FileHandle output;
  const Error created = files_.create_new_file(folder, state.name, output);
  if (created.is_name_taken()) return false;
  if (!created.ok()) {
    slot.error = created;
    return true;
  }
  Error copied;
  try {
    copied = copy_out(position, length, output, state);
  } catch (...) {
    // The copy buffer couldn't be had: the run stops, and the folder it
    // then names must not hold this file empty.
    output.close();
    files_.remove_file(folder, state.name);
    throw;
  }
  if (copied.ok()) copied = files_.close(output);
  if (copied.ok()) return true;
  output.close();
  slot.error = copied;
  slot.left = files_.remove_file(folder, state.name);
  return true;
}

void ExtractionRun::write_file(Slot& slot, WriterState& state, std::uint64_t position, std::uint64_t length) {
  const platform::Folder& folder = slot.folder->folder;
  const TemporaryName temp(slot.name, false);
  state.temp_name.assign(temp.text().begin(), temp.text().end());
  platform::NewFile output(files_);
  Error error = output.begin(folder, state.temp_name);
  if (error.ok()) {
    error = copy_out(position, length, output.handle(), state);
    if (error.ok()) {
      error = output.finish(folder, state.temp_name, state.name);
    } else {
      output.abandon(folder, state.temp_name);
    }
  }
  slot.error = error;
}

// An archive read through a reader has no file for the kernel to copy
// from: its bytes pass through the copy buffer.
Error ExtractionRun::copy_out(std::uint64_t position, std::uint64_t length, const platform::FileHandle& output,
                              WriterState& state) {
  if (!index_.has_reader()) return files_.copy_range(index_.archive(), position, length, output, state.copy_buffer);
  Error copied = index_.read_range(position, length, state.copy_buffer, [&](const char* bytes, std::size_t count) {
    return files_.write(output, bytes, count).during(Error::Step::write);
  });
  if (copied.is_ended_early()) {
    return Error::found(Error::Kind::ended_early, Error::Finding::archive_ends_early, Error::Step::read);
  }
  return copied;
}

}  // namespace kelvarin
