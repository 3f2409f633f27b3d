// The JSON writer and its string escaping.
#include "brq/json_text.h"

#include "names/utf8.h"

namespace kelvarin::brq {
namespace {

constexpr char kHex[] = "0123456789abcdef";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

}  // namespace

bool append_json_string(std::string& out, std::string_view bytes) {
  bool exact = true;
  out += '"';
  for (std::size_t at = 0; at < bytes.size();) {
    const auto byte = static_cast<unsigned char>(bytes[at]);
    if (byte >= 0x80) {
      std::size_t length = utf8_sequence_length(bytes, at);
      if (is_c1_control(bytes, at)) {
        // A C1 control is text, but a terminal showing the document raw
        // could take it for a command.
        out += "\\u00";
        out += kHex[static_cast<unsigned char>(bytes[at + 1]) >> 4];
        out += kHex[static_cast<unsigned char>(bytes[at + 1]) & 0xF];
        at += 2;
        continue;
      }
      if (length == 0) {
        out += kReplacement;
        exact = false;
        ++at;
      } else {
        out.append(bytes.substr(at, length));
        at += length;
      }
      continue;
    }
    switch (byte) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          out += "\\u00";
          out += kHex[byte >> 4];
          out += kHex[byte & 0xF];
        } else {
          out += static_cast<char>(byte);
        }
    }
    ++at;
  }
  out += '"';
  return exact;
}

void entry_members(JsonWriter& json, const EntryVisit& entry) {
  json.key("index").number(entry.entry);
  json.path(entry.name_readable ? "path" : "in", listed_path(entry));
}

void JsonWriter::before_value(bool is_array) {
  if (levels_.empty()) return;
  Level& level = levels_.back();
  if (level.object) {
    if (!level.empty) {
      const bool top_level = levels_.size() == 1;
      text_ += top_level && (is_array || level.after_array) ? ",\n " : ", ";
    }
    text_ += '"' + pending_key_ + "\": ";
    level.after_array = is_array;
  } else if (level.items == Items::inline_items) {
    if (!level.empty) text_ += ", ";
  } else if (level.items == Items::one_per_line) {
    text_ += level.empty ? "\n  " : ",\n  ";
  } else {
    text_ += level.empty ? "  " : ",\n  ";
  }
  level.empty = false;
}

JsonWriter& JsonWriter::begin_object() {
  before_value(false);
  levels_.push_back({true, Items::inline_items});
  text_ += '{';
  return *this;
}

JsonWriter& JsonWriter::end_object() {
  levels_.pop_back();
  text_ += '}';
  return *this;
}

JsonWriter& JsonWriter::end_document() {
  end_object();
  text_ += '\n';
  return *this;
}

JsonWriter& JsonWriter::begin_array(Items items) {
  before_value(true);
  levels_.push_back({false, items});
  text_ += items == Items::one_per_line_open ? "[\n" : "[";
  return *this;
}

JsonWriter& JsonWriter::end_array() {
  const Level level = levels_.back();
  levels_.pop_back();
  text_ += level.items != Items::inline_items && !level.empty ? "\n]" : "]";
  return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
  pending_key_ = name;
  return *this;
}

JsonWriter& JsonWriter::string(std::string_view bytes) {
  before_value(false);
  append_json_string(text_, bytes);
  return *this;
}

JsonWriter& JsonWriter::number(std::int64_t value) {
  before_value(false);
  text_ += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::number(std::uint64_t value) {
  before_value(false);
  text_ += std::to_string(value);
  return *this;
}

JsonWriter& JsonWriter::boolean(bool value) {
  before_value(false);
  text_ += value ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::null() {
  before_value(false);
  text_ += "null";
  return *this;
}

JsonWriter& JsonWriter::path(std::string_view name, std::string_view bytes) {
  key(name);
  before_value(false);
  if (append_json_string(text_, bytes)) return *this;
  return key(std::string(name) + "_hex").string(hex_bytes(bytes));
}

JsonWriter& JsonWriter::value(const JsonWriter& made) {
  before_value(false);
  text_ += made.text_;
  return *this;
}

std::string JsonWriter::take() {
  std::string taken;
  taken.swap(text_);
  return taken;
}

std::string hex_bytes(std::string_view bytes) {
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    hex += kHex[byte >> 4];
    hex += kHex[byte & 0xF];
  }
  return hex;
}

}  // namespace kelvarin::brq
