// Names found by the folder that holds them: (folder, name) -> a number,
// in one open-addressed table, names compared under a CaseRule. Names come from the archive, which may be
// made to collide in any hash it can know: the table is keyed with SipHash
// under a key drawn afresh for each table, so that no archive can turn
// filling it into quadratic work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "names/ascii.h"

namespace kelvarin {

// SipHash-1-3 of a folder's number and a name, under a key drawn afresh for
// each KeyedHash: no archive can know which of its names collide.
class KeyedHash {
 public:
  KeyedHash();
  // Names one under `rule` hash alike.
  std::uint64_t operator()(std::uint32_t folder, std::string_view name,
                           CaseRule rule = CaseRule::exact()) const;

 private:
  std::uint64_t key_[2] = {};
};

class NameTable {
 public:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  // A table for at most `most` names, two of them one name where `rule`
  // says so.
  explicit NameTable(std::size_t most, CaseRule rule = CaseRule::exact());

  // Where (`folder`, `name`) is: a slot holding its value, or the free one
  // where it would go (value() kNone). `name_of(value)` gives the name of a
  // value in the table: names are kept where they are, not copied here.
  template <typename NameOf>
  std::size_t find(std::uint32_t folder, std::string_view name, const NameOf& name_of) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = hash(folder, name) & mask;; slot = (slot + 1) & mask) {
      const Slot& at = slots_[slot];
      if (at.value == kNone || (at.folder == folder && rule_.same(name_of(at.value), name))) return slot;
    }
  }

  std::uint32_t value(std::size_t slot) const { return slots_[slot].value; }
  void set(std::size_t slot, std::uint32_t folder, std::uint32_t value) { slots_[slot] = {folder, value}; }

 private:
  struct Slot {
    std::uint32_t folder = 0;
    std::uint32_t value = kNone;
  };
  std::uint64_t hash(std::uint32_t folder, std::string_view name) const { return hash_(folder, name, rule_); }

  std::vector<Slot> slots_;  // at most half full
  KeyedHash hash_;
  CaseRule rule_;
};

}  // namespace kelvarin
