#include "velmora/string_pool.hpp"

#include <cstring>
#include <stdexcept>

namespace velmora {
namespace {

constexpr std::size_t kInitialSlots = 64;

// Pooled strings are mostly a few bytes long (forms, tags, features), so a hash that takes
// eight bytes per step and ends with a full avalanche (murmur's finalizer, which linear probing
// needs in the low bits) beats the general-purpose string hash.
std::uint32_t hash_text(std::string_view text) noexcept {
  const char* p = text.data();
  std::size_t n = text.size();
  std::uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
  std::uint64_t chunk;
  for (; n >= 8; n -= 8, p += 8) {
    std::memcpy(&chunk, p, 8);
    h = (h ^ chunk) * 0xBF58476D1CE4E5B9ull;
    h ^= h >> 29;
  }
  if (n) {
    // Byte by byte: a variable-length memcpy would be a library call for at most 7 bytes.
    chunk = 0;
    for (std::size_t i = 0; i < n; ++i) {
      chunk |= std::uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
    }
    h = (h ^ chunk) * 0xBF58476D1CE4E5B9ull;
  }
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 33;
  return static_cast<std::uint32_t>(h);
}

}  // namespace

StringPool::StringPool() : StringPool(0xFFFFFFFFu) {}

StringPool::StringPool(std::uint32_t max_strings)
    : slots_(kInitialSlots, Slot{kEmptySlot, 0}), max_strings_(max_strings) {
  intern("");
}

std::uint32_t StringPool::intern(std::string_view text) {
  const std::uint32_t hash = hash_text(text);
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  for (;; i = (i + 1) & mask) {
    const Slot slot = slots_[i];
    if (slot.id == kEmptySlot) break;
    if (slot.hash == hash && strings_[slot.id] == text) return slot.id;
  }
  if (strings_.size() >= max_strings_) {
    throw std::overflow_error("the document string pool is full");
  }
  const auto id = static_cast<std::uint32_t>(strings_.size());
  strings_.emplace_back(text);
  slots_[i] = Slot{id, hash};
  // Keep the table at most half full so that probe runs stay short.
  if (strings_.size() * 2 > slots_.size()) grow();
  return id;
}

std::uint32_t StringPool::intern_optional(const std::optional<std::string>& text) {
  return text ? intern(*text) : kNoString;
}

void StringPool::reserve(std::size_t count) {
  strings_.reserve(count);
  std::size_t slots = slots_.size();
  while (slots < count * 2) slots *= 2;
  if (slots != slots_.size()) rehash(slots);
}

void StringPool::grow() { rehash(slots_.size() * 2); }

void StringPool::rehash(std::size_t slot_count) {
  std::vector<Slot> bigger(slot_count, Slot{kEmptySlot, 0});
  const std::size_t mask = bigger.size() - 1;
  for (const Slot slot : slots_) {
    if (slot.id == kEmptySlot) continue;
    std::size_t i = slot.hash & mask;
    while (bigger[i].id != kEmptySlot) i = (i + 1) & mask;
    bigger[i] = slot;
  }
  slots_.swap(bigger);
}

const std::string& StringPool::get(unsigned int id) const {
  if (id >= strings_.size()) throw std::out_of_range("invalid string pool identifier");
  return strings_[id];
}

std::optional<std::string> StringPool::optional(unsigned int id) const {
  if (id == kNoString) return std::nullopt;
  return get(id);
}

}  // namespace velmora
