// JSON string escaping.
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

void append_json_path(std::string& out, std::string_view key, std::string_view path) {
  out += '"';
  out += key;
  out += "\": ";
  if (append_json_string(out, path)) return;
  out += ", \"";
  out += key;
  out += "_hex\": \"" + hex_bytes(path) + '"';
}

std::string json_entry_members(const EntryVisit& entry) {
  std::string members = "\"index\": " + std::to_string(entry.entry) + ", ";
  append_json_path(members, entry.name_readable ? "path" : "in", listed_path(entry));
  return members;
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
