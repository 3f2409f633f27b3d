// SipHash-1-3 under a fresh random key, and the table's size.
#include "names/name_table.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <random>

namespace kelvarin {
namespace {

std::uint64_t rotate(std::uint64_t x, int bits) { return (x << bits) | (x >> (64 - bits)); }

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

NameTable::NameTable(std::size_t most, CaseRule rule) : rule_(rule) {
  std::size_t slots = 2;
  while (slots < 2 * most) slots *= 2;
  slots_.resize(slots);
}

KeyedHash::KeyedHash() { fresh_key(key_); }

std::uint64_t KeyedHash::operator()(std::uint32_t folder, std::string_view name, CaseRule rule) const {
  std::uint64_t v0 = key_[0] ^ 0x736f6d6570736575u, v1 = key_[1] ^ 0x646f72616e646f6du;
  std::uint64_t v2 = key_[0] ^ 0x6c7967656e657261u, v3 = key_[1] ^ 0x7465646279746573u;
  auto round = [&] {
    v0 += v1, v1 = rotate(v1, 13), v1 ^= v0, v0 = rotate(v0, 32);
    v2 += v3, v3 = rotate(v3, 16), v3 ^= v2;
    v0 += v3, v3 = rotate(v3, 21), v3 ^= v0;
    v2 += v1, v1 = rotate(v1, 17), v1 ^= v2, v2 = rotate(v2, 32);
  };
  auto take = [&](std::uint64_t word) {
    v3 ^= word;
    round();
    v0 ^= word;
  };
  // The folder and the name's length first, then the name as the rule
  // folds it, 8 bytes a word, the last one padded with zeros: no two keys
  // give the same words.
  take(std::uint64_t{folder} | std::uint64_t{name.size()} << 32);
  for (std::size_t at = 0; at <= name.size(); at += 8) {
    char bytes[8] = {};
    const std::size_t length = std::min<std::size_t>(8, name.size() - at);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = rule.fold(name[at + i]);
    std::uint64_t word;
    std::memcpy(&word, bytes, 8);
    take(word);
  }
  v2 ^= 0xff;
  round(), round(), round();
  return v0 ^ v1 ^ v2 ^ v3;
}

}  // namespace kelvarin
