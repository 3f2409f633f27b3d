// Facts about entries, shared by list and check.
#include "brq/entry_facts.h"

namespace kelvarin::brq {
namespace {

class EachEntry final : public TreeVisitor {
 public:
  explicit EachEntry(const std::function<void(const EntryVisit&)>& visit) : visit_(visit) {}
  bool enter_folder(const EntryVisit& folder) override {
    visit_(folder);
    return true;
  }
  void leave_folder(const EntryVisit&) override {}
  void visit_file(const EntryVisit& file) override { visit_(file); }
  void visit_unnamed(const EntryVisit& entry) override { visit_(entry); }

 private:
  const std::function<void(const EntryVisit&)>& visit_;
};

}  // namespace

void for_each_entry(const ArchiveIndex& index, const std::function<void(const EntryVisit&)>& visit) {
  EachEntry each(visit);
  walk_node(index, each);
}

EntryFacts facts_of(const ArchiveIndex& index, std::uint32_t entry) {
  EntryFacts facts;
  facts.is_folder = index.is_folder(entry);
  if (facts.is_folder) return facts;
  facts.size = index.node(entry).file_size;
  facts.position = index.data_position(entry);
  return facts;
}

std::string describe_entry(const EntryVisit& visit) {
  const std::string text = "entry " + std::to_string(visit.entry);
  if (!visit.name_readable && visit.depth == 0) return text + " in the top level";
  const std::string path = listed_path(visit);
  return text + (visit.name_readable ? ", " : " in ") + (path.empty() ? "/" : path);
}

}  // namespace kelvarin::brq
