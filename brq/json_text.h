// JSON for brq's documents: one writer for their nesting and layout, and
// string literals for names, which are bytes and may not be UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archive/tree_walk.h"

namespace kelvarin::brq {

// Appends `bytes` to `out` as a JSON string literal: '"', '\' and control
// characters escaped, well-formed UTF-8 kept as it is, and each byte that
// is not part of well-formed UTF-8 replaced by U+FFFD. Returns false when a
// byte was replaced, that is when the literal does not give `bytes` back.
bool append_json_string(std::string& out, std::string_view bytes);

// The bytes as lowercase hexadecimal, two digits a byte: how a listing
// gives a path exactly when its JSON string could not.
std::string hex_bytes(std::string_view bytes);

// Writes one JSON value, a document or a part of one, in the layout all of
// brq's documents share: members of an object on one line, ", " between
// them, except that on the top level an array and what follows it start a
// line of their own (" \"notes\": ["); an array's items on one line, or
// each on a line of its own indented by two. The text is taken as it is
// made, so that a long document streams.
class JsonWriter {
 public:
  enum class Items {
    inline_items,       // [1, 2]
    one_per_line,       // "[\n  1,\n  2\n]", and "[]"
    one_per_line_open,  // the same, the line broken at once: "[\n]" when empty
  };

  JsonWriter& begin_object();
  JsonWriter& end_object();
  // Ends the outermost object and the document's line.
  JsonWriter& end_document();
  JsonWriter& begin_array(Items items = Items::inline_items);
  JsonWriter& end_array();
  JsonWriter& key(std::string_view name);
  JsonWriter& string(std::string_view bytes);
  JsonWriter& number(std::int64_t value);
  JsonWriter& number(std::uint64_t value);
  JsonWriter& number(std::uint32_t value) { return number(std::uint64_t{value}); }
  JsonWriter& number(std::int32_t value) { return number(std::int64_t{value}); }
  JsonWriter& boolean(bool value);
  JsonWriter& null();
  // The member `name` with the string of `bytes`, and `name_hex` with their
  // hexadecimal where the string could not give them back.
  JsonWriter& path(std::string_view name, std::string_view bytes);
  // A whole value another writer made, as the next value here.
  JsonWriter& value(const JsonWriter& made);

  // The text written since the last take.
  std::string take();

 private:
  struct Level {
    bool object;
    Items items;
    bool empty = true;
    bool after_array = false;  // the last member's value was an array
  };
  // What comes before the next value: a separator, and in an object its key.
  void before_value(bool is_array);

  std::vector<Level> levels_;
  std::string pending_key_;
  std::string text_;
};

// How a document names an entry: `"index": 7, "path": "maps/a.map"` (with
// "path_hex" where needed), or for an entry without a name `"index": 7,
// "in": "maps"`, the folder it is in.
void entry_members(JsonWriter& json, const EntryVisit& entry);

}  // namespace kelvarin::brq
