#pragma once

// Per-document interning of strings to dense 32-bit ids. Id 0 is the empty string; the id
// 0xFFFFFFFF is never handed out, because every id column of a document uses it for "no value".

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

/// The id that stands for the absence of a string in every id column.
inline constexpr std::uint32_t kNoString = 0xFFFFFFFFu;

class StringPool {
 public:
  StringPool();
  /// A pool that refuses to grow beyond `max_strings` strings; documents use the full id space.
  explicit StringPool(std::uint32_t max_strings);

  /// The id of `text`, adding it when it is new; std::overflow_error when the pool is full.
  std::uint32_t intern(std::string_view text);
  /// kNoString for an empty optional, otherwise `intern` of the string.
  std::uint32_t intern_optional(const std::optional<std::string>& text);

  /// The text of `id`; std::out_of_range for kNoString or an unknown id.
  const std::string& get(unsigned int id) const;
  /// Empty for kNoString, otherwise a copy of the text; std::out_of_range for an unknown id.
  std::optional<std::string> optional(unsigned int id) const;

  /// Prepares room for `count` strings in total, so that interning them does not regrow.
  void reserve(std::size_t count);

  std::size_t size() const noexcept { return strings_.size(); }
  /// Every pooled string, indexed by id.
  const std::vector<std::string>& strings() const noexcept { return strings_; }

 private:
  // Open-addressing table of ids keyed by the strings they name, so each text is stored once.
  struct Slot {
    std::uint32_t id;
    std::uint32_t hash;
  };
  static constexpr std::uint32_t kEmptySlot = kNoString;

  void grow();
  void rehash(std::size_t slot_count);

  std::vector<std::string> strings_;
  std::vector<Slot> slots_;
  std::uint32_t max_strings_;
};

}  // namespace velmora
