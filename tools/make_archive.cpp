// make_archive FOLDER ARCHIVE: packs a folder with the archive writer (root
// with an empty name, depth-first, names sorted bytewise). Used to make the
// bundled sample and the benchmark's archives.
#include <cstdio>
#include <string>

#include "archive/archive_writer.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_archive FOLDER ARCHIVE\n");
    return 64;
  }
  kelvarin::SourceNode tree = kelvarin::source_tree_from_folder(argv[1]);
  std::vector<kelvarin::SourceNode> top_level;
  top_level.push_back(std::move(tree));
  kelvarin::ArchiveLayout layout = kelvarin::lay_out(top_level);
  std::string error = layout.error;
  if (error.empty() && kelvarin::write_archive_file(layout, argv[2], error)) return 0;
  std::fprintf(stderr, "make_archive: %s\n", error.c_str());
  return 1;
}
