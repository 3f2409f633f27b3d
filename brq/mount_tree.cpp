// Building the mount's tree from the plan, its lookup by name, and reads
// of a file's bytes from the archive.
#include "brq/mount_tree.h"

#include "messages/entry_messages.h"

namespace kelvarin::brq {
namespace {

constexpr std::uint32_t kTop = 0;

}  // namespace

// The plan in the walk's order: a node where the extraction makes a file
// or folder, a folder stack where it keeps open folders.
class MountTree::Builder final : public PlanVisitor {
 public:
  Builder(MountTree& tree, const ArchiveIndex& index, const std::function<void(const std::string&)>& left_out)
      : tree_(tree), index_(index), left_out_(left_out) {}

  bool enter_folder(const EntryVisit& folder, const PlannedEntry& planned) override {
    const std::uint32_t holder = folders_.back();
    if (planned.fate == Fate::folded) {
      folders_.push_back(holder);
      return true;
    }
    if (too_long(folder)) return false;
    const std::size_t slot = tree_.slot_of(holder, folder.name);
    // A second folder of a name adds to the first, as the extraction
    // fills the folder it finds there.
    const std::uint32_t node = planned.fate == Fate::merged ? tree_.names_.value(slot)
                                                            : tree_.add_node(holder, folder.entry, slot);
    folders_.push_back(node);
    return true;
  }

  void leave_folder(const EntryVisit&, const PlannedEntry&) override { folders_.pop_back(); }

  void visit(const EntryVisit& entry, const PlannedEntry& planned) override {
    if (planned.fate == Fate::left_out) {
      left_out_(error_line(left_out_message(index_, entry, planned, PathForm::listed)));
      return;
    }
    if (too_long(entry)) return;
    const std::size_t slot = tree_.slot_of(folders_.back(), entry.name);
    if (planned.place() == entry.entry) {
      tree_.add_node(folders_.back(), entry.entry, slot);
    } else {
      // The later file replaces the earlier one on disk; here it takes
      // over the earlier one's node, and so its place in the listing.
      tree_.nodes_[tree_.names_.value(slot)].entry = entry.entry;
    }
  }

 private:
  // Names no folder here can hold: the extraction fails on them.
  bool too_long(const EntryVisit& visit) {
    if (visit.name.size() <= platform::kLongestMountedName) return false;
    left_out_(error_line("Skipping " + entry_description(visit, PathForm::listed) + ": its name is longer than the " +
                         std::to_string(platform::kLongestMountedName) + " bytes a folder can hold" +
                         inside_count(visit.is_folder ? index_.count_inside(visit.entry) : 0)));
    return true;
  }

  MountTree& tree_;
  const ArchiveIndex& index_;
  const std::function<void(const std::string&)>& left_out_;
  std::vector<std::uint32_t> folders_{kTop};
};

MountTree::MountTree(const ArchiveIndex& index, const ExtractionPlan& plan,
                     const std::function<void(const std::string& line)>& left_out)
    : index_(index), names_(std::size_t{index.entry_count()} + 1, plan.case_rule()) {
  // One node per entry at most, and the top folder.
  nodes_.reserve(std::size_t{index.entry_count()} + 1);
  nodes_.emplace_back();
  Builder builder(*this, index, left_out);
  plan.replay(index, builder);
  // Given back only when much is left over: the copy would double the
  // table for a moment.
  if (nodes_.size() < nodes_.capacity() / 4 * 3) nodes_.shrink_to_fit();
}

bool MountTree::is_folder(std::uint32_t node) const {
  return node == kTop || index_.is_folder(nodes_[node].entry);
}

std::string_view MountTree::name(std::uint32_t node) const {
  return node == kTop ? std::string_view() : index_.name(nodes_[node].entry);
}

std::uint64_t MountTree::file_size(std::uint32_t node) const {
  if (is_folder(node)) return 0;
  // Only files whose size the index checked are in the tree.
  return static_cast<std::uint64_t>(index_.node(nodes_[node].entry).file_size);
}

std::uint32_t MountTree::find_child(std::uint32_t folder, std::string_view name) const {
  return names_.value(slot_of(folder, name));
}

Error MountTree::read(std::uint32_t node, std::uint64_t offset, void* buffer, std::size_t length) const {
  const std::uint64_t position = *index_.data_position(nodes_[node].entry) + offset;
  std::size_t got = 0;
  Error error = platform::read_at(index_.archive(), position, buffer, length, got);
  if (error.ok() && got < length) {
    // The archive was cut short since it was mounted.
    error = Error::of_kind(Error::Kind::ended_early, "the archive ends before the file's last byte", Error::Step::read);
  }
  return error;
}

std::size_t MountTree::slot_of(std::uint32_t folder, std::string_view name) const {
  return names_.find(folder, name, [&](std::uint32_t node) { return this->name(node); });
}

std::uint32_t MountTree::add_node(std::uint32_t folder, std::uint32_t entry, std::size_t slot) {
  const auto node = static_cast<std::uint32_t>(nodes_.size());
  Node& added = nodes_.emplace_back();
  added.entry = entry;
  added.parent = folder;
  Node& holder = nodes_[folder];
  if (holder.last_child == kNone) {
    holder.first_child = node;
  } else {
    nodes_[holder.last_child].next = node;
  }
  holder.last_child = node;
  names_.set(slot, folder, node);
  return node;
}

}  // namespace kelvarin::brq
