#include "velmora/string_pool.hpp"

#include <functional>
#include <stdexcept>

namespace velmora {
namespace {

constexpr std::size_t kInitialSlots = 64;

std::uint32_t hash_text(std::string_view text) noexcept {
  const std::uint64_t h = std::hash<std::string_view>{}(text);
  return static_cast<std::uint32_t>(h ^ (h >> 32));
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
  if (strings_.size() >= max_strings_) throw std::overflow_error("the document string pool is full");
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

void StringPool::grow() {
  std::vector<Slot> bigger(slots_.size() * 2, Slot{kEmptySlot, 0});
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
