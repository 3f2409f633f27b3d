// What `brq mount` shows: the folders and files an extraction of the
// archive would write, found by the same walk with the same refusals, as a
// flat table of nodes that the file system answers every request from.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_index.h"
#include "platform/platform.h"

namespace kelvarin::brq {

class MountTree final : public platform::ReadOnlyTree {
 public:
  // Builds the tree of `index`, which must outlive it. Entries the
  // extraction would refuse, or could not write there, are left out with
  // everything they hold, each named once in refusals().
  explicit MountTree(const ArchiveIndex& index);

  std::uint32_t node_count() const override { return static_cast<std::uint32_t>(nodes_.size()); }
  bool is_folder(std::uint32_t node) const override;
  std::string_view name(std::uint32_t node) const override;
  std::uint32_t parent(std::uint32_t node) const override { return nodes_[node].parent; }
  std::uint32_t first_child(std::uint32_t folder) const override { return nodes_[folder].first_child; }
  std::uint32_t next_sibling(std::uint32_t node) const override { return nodes_[node].next; }
  std::uint32_t find_child(std::uint32_t folder, std::string_view name) const override;
  std::uint64_t file_size(std::uint32_t node) const override;
  Error read(std::uint32_t node, std::uint64_t offset, void* buffer, std::size_t length) const override;

  // The archive entry a node shows (of folders merged under one name the
  // first, of files the last, which takes the name as it would on disk);
  // kNone for the top folder.
  std::uint32_t entry_of(std::uint32_t node) const { return nodes_[node].entry; }
  // One "ERROR: ..." line per entry left out, in walk order.
  const std::string& refusals() const { return refusals_; }
  // The memory the tree's tables take, beside the index's.
  std::size_t table_bytes() const {
    return nodes_.capacity() * sizeof(Node) + slots_.capacity() * sizeof(std::uint32_t) +
           refusals_.capacity();
  }

 private:
  class Builder;

  struct Node {
    std::uint32_t entry = kNone;
    std::uint32_t parent = 0;
    std::uint32_t first_child = kNone;
    std::uint32_t last_child = kNone;
    std::uint32_t next = kNone;
  };

  std::uint64_t slot_hash(std::uint32_t folder, std::string_view name) const;
  // Where the node named `name` in `folder` is in slots_, or the free
  // slot where it would go.
  std::size_t slot_of(std::uint32_t folder, std::string_view name) const;
  std::uint32_t add_node(std::uint32_t folder, std::uint32_t entry, std::size_t slot);

  const ArchiveIndex& index_;
  std::vector<Node> nodes_;
  // Open addressing over (folder, name), at most half full: each slot kNone
  // or a node. The hash is keyed afresh for each tree, so that no archive
  // can be made whose names all fall on one slot and turn building into
  // quadratic work.
  std::vector<std::uint32_t> slots_;
  std::uint64_t key_[2] = {};
  std::string refusals_;
};

}  // namespace kelvarin::brq
