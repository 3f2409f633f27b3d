// What `brq mount` shows: the folders and files an extraction of the
// archive would leave, read from its plan, as a flat table of nodes that
// the file system answers every request from.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_index.h"
#include "extract/extraction_plan.h"
#include "names/name_table.h"
#include "platform/mount.h"

namespace kelvarin::brq {

class MountTree final : public platform::ReadOnlyTree {
 public:
  // Builds the tree of `plan` (of `index`, which must outlive it). What the
  // plan leaves out, and names longer than a mounted folder holds, are left
  // out with everything they hold, each told once to `left_out` as the line
  // that says so, as it is found.
  MountTree(const ArchiveIndex& index, const ExtractionPlan& plan,
            const std::function<void(const std::string& line)>& left_out);

  std::uint32_t node_count() const override { return static_cast<std::uint32_t>(nodes_.size()); }
  bool is_folder(std::uint32_t node) const override;
  std::string_view name(std::uint32_t node) const override;
  std::uint32_t parent(std::uint32_t node) const override { return nodes_[node].parent; }
  std::uint32_t first_child(std::uint32_t folder) const override { return nodes_[folder].first_child; }
  std::uint32_t next_sibling(std::uint32_t node) const override { return nodes_[node].next; }
  std::uint32_t find_child(std::uint32_t folder, std::string_view name) const override;
  std::uint64_t file_size(std::uint32_t node) const override;
  Error read(std::uint32_t node, std::uint64_t offset, void* buffer, std::size_t length) const override;


 private:
  class Builder;

  struct Node {
    std::uint32_t entry = kNone;
    std::uint32_t parent = 0;
    std::uint32_t first_child = kNone;
    std::uint32_t last_child = kNone;
    std::uint32_t next = kNone;
  };

  std::size_t slot_of(std::uint32_t folder, std::string_view name) const;
  std::uint32_t add_node(std::uint32_t folder, std::uint32_t entry, std::size_t slot);

  const ArchiveIndex& index_;
  std::vector<Node> nodes_;
  NameTable names_;  // (folder, name) -> node, names compared as the plan's rule does
};

}  // namespace kelvarin::brq
