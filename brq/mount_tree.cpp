// Building the mount's tree with the extraction's walk and checks, its
// lookup by name, and reads of a file's bytes from the archive.
#include "brq/mount_tree.h"

#include <chrono>
#include <cstring>
#include <random>

#include "extract/entry_name.h"
#include "extract/report.h"

namespace kelvarin::brq {
namespace {

constexpr std::uint32_t kTop = 0;

std::uint64_t rotate(std::uint64_t x, int bits) { return (x << bits) | (x >> (64 - bits)); }

// SipHash-1-3 of the words `message` hands out: a hash whose collisions
// can't be found without its key.
template <typename Message>
std::uint64_t sip_hash(const std::uint64_t key[2], Message message) {
  std::uint64_t v0 = key[0] ^ 0x736f6d6570736575u, v1 = key[1] ^ 0x646f72616e646f6du;
  std::uint64_t v2 = key[0] ^ 0x6c7967656e657261u, v3 = key[1] ^ 0x7465646279746573u;
  auto round = [&] {
    v0 += v1, v1 = rotate(v1, 13), v1 ^= v0, v0 = rotate(v0, 32);
    v2 += v3, v3 = rotate(v3, 16), v3 ^= v2;
    v0 += v3, v3 = rotate(v3, 21), v3 ^= v0;
    v2 += v1, v1 = rotate(v1, 17), v1 ^= v2, v2 = rotate(v2, 32);
  };
  message([&](std::uint64_t word) {
    v3 ^= word;
    round();
    v0 ^= word;
  });
  v2 ^= 0xff;
  round(), round(), round();
  return v0 ^ v1 ^ v2 ^ v3;
}

void fresh_key(std::uint64_t key[2]) {
  try {
    std::random_device random;
    for (int i = 0; i < 2; ++i) key[i] = std::uint64_t{random()} << 32 | random();
  } catch (const std::exception&) {
    // No source of randomness: the clock still keeps the key unknown ahead.
    key[0] = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    key[1] = rotate(key[0], 29) ^ 0x9e3779b97f4a7c15u;
  }
}

}  // namespace

// The walk, as the extraction's: a folder stack where the extraction keeps
// open folders, one node per name where it makes one file or folder.
class MountTree::Builder final : public TreeVisitor {
 public:
  Builder(MountTree& tree, const ArchiveIndex& index) : tree_(tree), index_(index) {}

  bool enter_folder(const EntryVisit& folder) override {
    if (refused(folder)) return false;
    const std::uint32_t holder = folders_.back();
    if (folds_into_parent(folder)) {
      folders_.push_back(holder);
      return true;
    }
    const std::size_t slot = tree_.slot_of(holder, folder.name);
    std::uint32_t node = tree_.slots_[slot];
    if (node == kNone) {
      node = tree_.add_node(holder, folder.entry, slot);
    } else if (!tree_.is_folder(node)) {
      // The extraction can't make a folder where it wrote a file.
      leave_out(folder, "a file of the same name comes before it", index_.count_inside(folder.entry));
      return false;
    }
    // A second folder of a name adds to the first, as the extraction
    // fills the folder it finds there.
    folders_.push_back(node);
    return true;
  }

  void leave_folder(const EntryVisit&) override { folders_.pop_back(); }

  void visit_file(const EntryVisit& file) override {
    if (refused(file)) return;
    const std::uint32_t holder = folders_.back();
    const std::size_t slot = tree_.slot_of(holder, file.name);
    const std::uint32_t node = tree_.slots_[slot];
    if (node == kNone) {
      tree_.add_node(holder, file.entry, slot);
    } else if (tree_.is_folder(node)) {
      leave_out(file, "a folder of the same name comes before it", 0);
    } else {
      // The later file replaces the earlier one on disk; here it takes
      // over the earlier one's node, and so its place in the listing.
      tree_.nodes_[node].entry = file.entry;
    }
  }

  void visit_unnamed(const EntryVisit& entry) override { refused(entry); }

 private:
  bool refused(const EntryVisit& visit) {
    const Error why = check_entry(index_, visit);
    std::string cause = why.cause();
    if (why.ok() && visit.name.size() > platform::kLongestMountedName) {
      cause = "its name is longer than the " + std::to_string(platform::kLongestMountedName) +
              " bytes a folder can hold";
    }
    if (cause.empty()) return false;
    leave_out(visit, cause, visit.is_folder ? index_.count_inside(visit.entry) : 0);
    return true;
  }

  void leave_out(const EntryVisit& visit, const std::string& cause, std::uint64_t inside) {
    tree_.refusals_ += error_line(skipped_entry_message(visit, cause, inside));
  }

  MountTree& tree_;
  const ArchiveIndex& index_;
  std::vector<std::uint32_t> folders_{kTop};
};

MountTree::MountTree(const ArchiveIndex& index) : index_(index) {
  fresh_key(key_);
  // One node per entry at most, and the top folder.
  const std::size_t most = std::size_t{index.entry_count()} + 1;
  nodes_.reserve(most);
  std::size_t slots = 1;
  while (slots < 2 * most) slots *= 2;
  slots_.assign(slots, kNone);
  nodes_.emplace_back();
  Builder builder(*this, index);
  walk_node(index, builder);
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
  return slots_[slot_of(folder, name)];
}

Error MountTree::read(std::uint32_t node, std::uint64_t offset, void* buffer, std::size_t length) const {
  const std::uint64_t position = *index_.data_position(nodes_[node].entry) + offset;
  std::size_t got = 0;
  Error error = platform::read_at(index_.archive(), position, buffer, length, got);
  if (error.ok() && got < length) {
    // The archive was cut short since it was mounted.
    error = Error::because("the archive ends before the file's last byte", Error::Step::read);
  }
  return error;
}

std::uint64_t MountTree::slot_hash(std::uint32_t folder, std::string_view name) const {
  return sip_hash(key_, [&](auto take) {
    // The folder and the name's length first, then the name, 8 bytes a
    // word, the last one padded with zeros: no two keys give the same words.
    take(std::uint64_t{folder} | std::uint64_t{name.size()} << 32);
    std::size_t at = 0;
    for (; at + 8 <= name.size(); at += 8) {
      std::uint64_t word;
      std::memcpy(&word, name.data() + at, 8);
      take(word);
    }
    std::uint64_t last = 0;
    if (at < name.size()) std::memcpy(&last, name.data() + at, name.size() - at);
    take(last);
  });
}

std::size_t MountTree::slot_of(std::uint32_t folder, std::string_view name) const {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t slot = slot_hash(folder, name) & mask;; slot = (slot + 1) & mask) {
    const std::uint32_t node = slots_[slot];
    if (node == kNone || (nodes_[node].parent == folder && this->name(node) == name)) return slot;
  }
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
  slots_[slot] = node;
  return node;
}

}  // namespace kelvarin::brq
