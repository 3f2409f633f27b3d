// The run from start to exit status: banner, argument checks, opening the
// archive, loading its index and walking the tree.
#include "cli/run_extract.h"

#include <cstring>
#include <string>
#include <string_view>

#include "archive/extract_state.h"
#include "archive/index_loader.h"
#include "extract/report.h"
#include "extract/walk.h"

namespace kelvarin {
namespace {

constexpr std::string_view kBanner =
    "Kelvarin File System Extracter v1.0 by Dunmarrow\n"
    "Email: dunmarrow@example.com\n\n";

constexpr std::string_view kUsage =
    "Usage: Kelvarin_Extract.exe e <.brq file> <Destination Folder>\n\n"
    "  Example: Kelvarin_Extract.exe e \"C:\\Games\\Kelvarin\\data.brq\" \"C:\\Kelvarin DATA\"\n"
    "    Note: Don't include the \\ at the end of the folder, otherwise it wont work.\n\n\n";

void write(std::FILE* out, std::string_view text) { std::fwrite(text.data(), 1, text.size(), out); }

}  // namespace

int run_extract(int argc, char** argv, std::FILE* out) {
  write(out, kBanner);
  // An empty destination would turn every composed path into an absolute
  // one ("\maps\..." from the file system's root): refuse it like any other
  // wrong command line.
  if (argc <= 3 || std::strcmp(argv[1], "e") != 0 || argv[3][0] == '\0') {
    write(out, kUsage);
    return kStatusUsage;
  }

  ExtractState state;
  state.out = out;
  state.archive_path = argv[2];
  state.dest_folder = argv[3];

  if (!platform::open_archive(platform::native_path(state.archive_path), state.archive).ok()) {
    write(out, "Unable to open file: " + state.archive_path + "\n");
    return kStatusUnusable;
  }

  std::string error;
  if (!load_index(state, error)) {
    report_error(state, error);
    return kStatusUnusable;
  }

  state.dest_folder_native = platform::destination_base(state.dest_folder);
  // The destination itself may be new; its parent must exist. Whether this
  // worked shows in the walk, which reports what it can't create.
  platform::make_folder(state.dest_folder_native, true);
  walk_node(state, 0);
  state.archive.close();
  return state.had_failure ? kStatusIncomplete : kStatusComplete;
}

}  // namespace kelvarin
