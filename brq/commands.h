// The commands of brq, each given its parsed operands and the two
// streams: results on `out`, errors and progress on `err`.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/error.h"

namespace kelvarin::brq {

inline constexpr int kStatusSuccess = 0;
inline constexpr int kStatusUnusable = 1;       // archive unusable, or can't be written
inline constexpr int kStatusEntriesFailed = 2;  // some entries failed or can't be stored
inline constexpr int kStatusUsage = 64;         // wrong command line (EX_USAGE)

struct Streams {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
};

inline void print(std::FILE* stream, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stream);
}

// Why the index of `archive` could not be had, as an error line says it.
inline std::string why_unusable(const Error& error, const std::string& archive) {
  if (error.step() != Error::Step::open) return error.cause();
  return "Unable to open file: " + archive + ": " + error.cause();
}

int list_archive(const std::string& archive, bool json, const Streams& streams);
int check_archive(const std::string& archive, const Streams& streams);
int extract_archive(const std::string& archive, const std::string& dest,
                    const std::vector<std::string>& paths, bool quiet, const Streams& streams);
int pack_folder(const std::string& folder, const std::string& archive, const Streams& streams);
int mount_archive(const std::string& archive, const std::string& mountpoint, bool foreground,
                  const Streams& streams);

}  // namespace kelvarin::brq
