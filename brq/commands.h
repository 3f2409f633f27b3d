// The four commands of brq, each given its parsed operands and the two
// streams: results on `out`, errors and progress on `err`.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace kelvarin::brq {

inline constexpr int kStatusSuccess = 0;
inline constexpr int kStatusUnusable = 1;       // archive unusable, or can't be written
inline constexpr int kStatusEntriesFailed = 2;  // some entries failed or can't be stored
inline constexpr int kStatusUsage = 64;         // wrong command line (EX_USAGE)

struct Streams {
  std::FILE* out = stdout;
  std::FILE* err = stderr;
};

int list_archive(const std::string& archive, bool json, const Streams& streams);
int check_archive(const std::string& archive, const Streams& streams);
int extract_archive(const std::string& archive, const std::string& dest,
                    const std::vector<std::string>& paths, bool quiet, const Streams& streams);
int pack_folder(const std::string& folder, const std::string& archive, const Streams& streams);

}  // namespace kelvarin::brq
