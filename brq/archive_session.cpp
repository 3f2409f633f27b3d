// Opening an archive and loading its index for the reading commands.
#include "brq/archive_session.h"

#include "archive/index_loader.h"
#include "brq/utf8_text.h"
#include "platform/platform.h"

namespace kelvarin::brq {

Opened open_archive_index(ExtractState& state, const std::string& path, std::string& error) {
  state.archive_path = path;
  platform::Outcome outcome = platform::open_archive(platform::native_path(path), state.archive);
  if (!outcome.ok()) {
    error = "Unable to open file: " + path + ": " + platform::describe(outcome);
    return Opened::not_opened;
  }
  return load_index(state, error) ? Opened::loaded : Opened::unusable;
}

void print_error(std::FILE* stream, std::string_view message) {
  print(stream, "ERROR: " + one_line(message) + "\n");
}

void print(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace kelvarin::brq
