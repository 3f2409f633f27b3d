// The plan replayed into a tree of SourceNodes, and the archive's bytes
// handed to the writer as its files'.
#include "extract/extracted_tree.h"

#include <algorithm>
#include <new>

namespace kelvarin {
namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFFu;

// The plan in the walk's order, into a flat table first (a folder merged
// into an earlier one adds to a node made long before), then into the
// tree.
class Builder final : public PlanVisitor {
 public:
  explicit Builder(const ArchiveIndex& index) : index_(index), node_of_(index.entry_count(), kNone) {
    nodes_.push_back({kNone, true, {}});
  }

  bool enter_folder(const EntryVisit& folder, const PlannedEntry& planned) override {
    const std::uint32_t holder = open_.back();
    if (planned.fate == Fate::folded) {
      open_.push_back(holder);
    } else if (planned.fate == Fate::merged) {
      open_.push_back(node_of_[planned.place()]);
    } else {
      open_.push_back(add(holder, folder.entry, true));
    }
    return true;
  }

  void leave_folder(const EntryVisit&, const PlannedEntry&) override { open_.pop_back(); }

  void visit(const EntryVisit& entry, const PlannedEntry& planned) override {
    if (planned.fate == Fate::left_out) {
      left_out_.push_back(entry.entry);
    } else if (planned.place() == entry.entry) {
      add(open_.back(), entry.entry, false);
    } else {
      // A later file of the name: its bytes in the earlier one's place.
      nodes_[node_of_[planned.place()]].entry = entry.entry;
    }
  }

  ExtractedTree take() {
    return {build(0), std::move(left_out_)};
  }

 private:
  struct Node {
    std::uint32_t entry;
    bool is_folder;
    std::vector<std::uint32_t> children;
  };

  std::uint32_t add(std::uint32_t holder, std::uint32_t entry, bool is_folder) {
    const auto node = static_cast<std::uint32_t>(nodes_.size());
    nodes_.push_back({entry, is_folder, {}});
    nodes_[holder].children.push_back(node);
    node_of_[entry] = node;
    return node;
  }

  // The node and all below it; each folder's table is given back as it is
  // turned into nodes.
  SourceNode build(std::uint32_t at) {
    Node& node = nodes_[at];
    SourceNode built;
    if (node.entry != kNone) built.name = std::string(index_.name(node.entry));
    built.is_folder = node.is_folder;
    if (!node.is_folder) {
      built.disk_file = node.entry;
      built.size = static_cast<std::uint64_t>(index_.node(node.entry).file_size);
      return built;
    }
    std::vector<std::uint32_t> children = std::move(node.children);
    built.children.reserve(children.size());
    for (std::uint32_t child : children) built.children.push_back(build(child));
    std::sort(built.children.begin(), built.children.end(),
              [](const SourceNode& a, const SourceNode& b) { return a.name < b.name; });
    return built;
  }

  const ArchiveIndex& index_;
  std::vector<Node> nodes_;             // [0] is the destination
  std::vector<std::uint32_t> node_of_;  // by entry: the node it made
  std::vector<std::uint32_t> open_{0};
  std::vector<std::uint32_t> left_out_;
};

}  // namespace

Result<ExtractedTree> extracted_tree(const ArchiveIndex& index, const ExtractionPlan& plan) {
  try {
    Builder builder(index);
    plan.replay(index, builder);
    return builder.take();
  } catch (const std::bad_alloc&) {
    return Error::out_of_memory();
  }
}

Error ArchiveData::open(const SourceNode&, platform::FileHandle& file) {
  return platform::duplicate(index_.archive(), file);
}

std::uint64_t ArchiveData::start(const SourceNode& node) const {
  // Only files the plan writes are in the tree: their positions are known.
  return *index_.data_position(static_cast<std::uint32_t>(node.disk_file));
}

std::string ArchiveData::path_of(const SourceNode&) const { return index_.path(); }

}  // namespace kelvarin
