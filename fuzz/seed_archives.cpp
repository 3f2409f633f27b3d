// The seed archives. Each stays well under a few kilobytes, so the fuzzer's
// inputs stay small and fast.
#include "fuzz/seed_archives.h"

#include "archive/archive_writer.h"

namespace kelvarin::fuzz {
namespace {

std::vector<SourceNode> game_tree(std::string root_name) {
  return {source_folder(std::move(root_name),
                        {source_folder("maps", {source_file("level1.map", "LEVEL-ONE"),
                                                source_folder("deep", {source_file("z", "ZZ")}),
                                                source_file("level2.map", "2")}),
                         source_file("readme.txt", "read me\n"), source_folder("empty"),
                         source_folder("sounds", {source_file("silence.ogg", "")})})};
}

std::string bytes_of(const std::vector<SourceNode>& top_level, const WriterOptions& options = {}) {
  return archive_bytes(lay_out(top_level, options));
}

}  // namespace

std::vector<SeedArchive> seed_archives() {
  std::vector<SeedArchive> seeds;
  seeds.push_back({"game", bytes_of(game_tree(""))});
  seeds.push_back(
      {"game_breadth_first_reversed",
       bytes_of(game_tree(""), {EntryOrder::breadth_first, DataOrder::reverse_entry_order})});
  seeds.push_back(
      {"named_root_and_siblings",
       bytes_of({source_folder("data", {source_file("a", "A")}), source_file("top", "T"),
                 source_folder("more", {source_file("b", "BB")})})});
  seeds.push_back({"file_root", bytes_of({source_file("solo.bin", "12345")})});
  // Every traversal form, as a file and as a folder holding one, inside the
  // root, further down and on the root's sibling chain: a name check that
  // lets one through fails on the seeds themselves.
  std::vector<SourceNode> hostile;
  for (const char* name : {"..", ".", "a/../../x", "..\\..\\x", "/x", "\\x", "a/b", "a\\b", ""}) {
    hostile.push_back(source_file(name, "x"));
    hostile.push_back(source_folder(name, {source_file("x", "x")}));
  }
  hostile.push_back(source_file("ok", "fine"));
  seeds.push_back({"hostile_names", bytes_of({source_folder("", hostile)})});
  seeds.push_back(
      {"hostile_names_deep",
       bytes_of({source_folder("", {source_folder("a", {source_folder("b", hostile)})})})});
  std::vector<SourceNode> hostile_top_level{source_folder("", {source_file("ok", "fine")})};
  hostile_top_level.insert(hostile_top_level.end(), hostile.begin(), hostile.end());
  seeds.push_back({"hostile_names_top_level", bytes_of(hostile_top_level)});
  seeds.push_back({"root_named_dot_dot", bytes_of({source_folder("..", {source_file("x", "x")})})});

  SourceNode deep = source_file("leaf", "L");
  for (int i = 0; i < 24; ++i) deep = source_folder("d", {std::move(deep)});
  seeds.push_back({"deep", bytes_of({source_folder("", {std::move(deep)})})});
  std::vector<SourceNode> many;
  for (int i = 0; i < 30; ++i)
    many.push_back(source_file("f" + std::to_string(i), std::string(i % 4, 'x')));
  seeds.push_back({"many_siblings", bytes_of({source_folder("", std::move(many))})});

  // More offset words than files, and data placed out of order.
  const std::vector<SourceNode> tree = game_tree("");  // the layout points into it
  ArchiveLayout spare = lay_out(tree);
  for (PlacedData& data : spare.data) data.position += 16;
  for (std::uint32_t& word : spare.offsets) word += 1;
  spare.offsets.push_back(0);
  spare.offsets.push_back(0xFFFFFFFFu);
  spare.header.offset_count += 2;
  seeds.push_back({"spare_offsets", archive_bytes(spare)});
  return seeds;
}

}  // namespace kelvarin::fuzz
