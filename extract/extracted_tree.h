// The tree an extraction would leave, as the archive writer takes it: the
// folders and files the plan makes, each folder's entries sorted bytewise
// by name as brq pack stores a folder, and each file's bytes read from
// where they lie in the archive. A new archive made from an old one (the
// old one compacted or edited) starts from here, without extracting.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_index.h"
#include "archive/archive_writer.h"
#include "extract/extraction_plan.h"

namespace kelvarin {

struct ExtractedTree {
  // The destination as a folder with an empty name: what an extraction
  // puts there (the root's contents, or the named root, and the root's
  // siblings). A file's `disk_file` is its entry in the index and `size`
  // its size, so that an ArchiveData of the same index reads its bytes.
  // Of a name held twice, the later file's bytes in the earlier's place; a
  // folder of a name taken twice holds what both hold.
  SourceNode top;
  // The entries the plan leaves out (with all they hold), in walk order:
  // not in `top`.
  std::vector<std::uint32_t> left_out;
};

// The tree `plan` makes of `index`. Fails only when memory runs out.
Result<ExtractedTree> extracted_tree(const ArchiveIndex& index, const ExtractionPlan& plan);

// The bytes of an ExtractedTree's files, read from the archive `index`
// holds open (which must outlive it). Reads name the archive.
class ArchiveData final : public FileSource {
 public:
  explicit ArchiveData(const ArchiveIndex& index) : index_(index) {}
  Error open(const SourceNode& node, platform::FileHandle& file) override;
  std::uint64_t start(const SourceNode& node) const override;
  std::string path_of(const SourceNode& node) const override;

 private:
  const ArchiveIndex& index_;
};

}  // namespace kelvarin
