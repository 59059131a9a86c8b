#include "encoders/subword_text.hpp"

#include "velmora/errors.hpp"

// The byte scans are compiled once per SIMD target and chosen at run time.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "encoders/subword_text.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace velmora::detail {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

// Up to 16 bytes per vector compare; a target with narrower vectors uses its own width.
bool BytesAreAscii(const std::uint8_t* bytes, std::size_t size) {
  const hn::CappedTag<std::uint8_t, 16> d;
  const std::size_t lanes = hn::Lanes(d);
  const auto high_bit = hn::Set(d, std::uint8_t{0x80});
  std::size_t i = 0;
  for (; i + lanes <= size; i += lanes) {
    if (!hn::AllFalse(d, hn::TestBit(hn::LoadU(d, bytes + i), high_bit))) return false;
  }
  for (; i < size; ++i) {
    if (bytes[i] >= 0x80) return false;
  }
  return true;
}

// ASCII input only: every byte is a non-negative int8.
void LowerAsciiBytes(std::int8_t* bytes, std::size_t size) {
  const hn::CappedTag<std::int8_t, 16> d;
  const std::size_t lanes = hn::Lanes(d);
  const auto before_a = hn::Set(d, static_cast<std::int8_t>('A' - 1));
  const auto after_z = hn::Set(d, static_cast<std::int8_t>('Z' + 1));
  const auto case_bit = hn::Set(d, static_cast<std::int8_t>(0x20));
  std::size_t i = 0;
  for (; i + lanes <= size; i += lanes) {
    const auto block = hn::LoadU(d, bytes + i);
    const auto upper = hn::And(hn::Gt(block, before_a), hn::Lt(block, after_z));
    hn::StoreU(hn::Or(block, hn::IfThenElseZero(upper, case_bit)), d, bytes + i);
  }
  for (; i < size; ++i) {
    if (bytes[i] >= 'A' && bytes[i] <= 'Z') bytes[i] = static_cast<std::int8_t>(bytes[i] + 0x20);
  }
}

}  // namespace HWY_NAMESPACE
}  // namespace velmora::detail
HWY_AFTER_NAMESPACE();

#if HWY_ONCE

namespace velmora::detail {

HWY_EXPORT(BytesAreAscii);
HWY_EXPORT(LowerAsciiBytes);

bool is_ascii(std::string_view text) noexcept {
  return HWY_DYNAMIC_DISPATCH(BytesAreAscii)(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  HWY_DYNAMIC_DISPATCH(LowerAsciiBytes)(reinterpret_cast<std::int8_t*>(out.data()), out.size());
  return out;
}

bool try_decode_utf8_code_points(std::string_view text, std::vector<CodePointSpan>& out,
                                 std::uint64_t& error_offset) {
  out.clear();
  const std::size_t size = text.size();
  if (size == 0) return true;
  out.reserve(size);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  if (is_ascii(text)) {
    for (std::size_t i = 0; i < size; ++i) out.push_back({bytes[i], i, i + 1});
    return true;
  }
  std::size_t p = 0;
  while (p < size) {
    const std::uint8_t lead = bytes[p];
    std::size_t length = 1;
    std::uint32_t code_point = lead;
    std::uint32_t minimum = 0;
    if (lead < 0x80) {
      out.push_back({lead, p, p + 1});
      ++p;
      continue;
    }
    if ((lead & 0xE0) == 0xC0) {
      length = 2, minimum = 0x80, code_point = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, minimum = 0x800, code_point = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, minimum = 0x10000, code_point = lead & 0x07;
    } else {
      error_offset = p;
      return false;
    }
    if (p + length > size) {
      error_offset = p;
      return false;
    }
    for (std::size_t k = 1; k < length; ++k) {
      const std::uint8_t next = bytes[p + k];
      if ((next & 0xC0) != 0x80) {
        error_offset = p + k;
        return false;
      }
      code_point = (code_point << 6) | (next & 0x3F);
    }
    if (code_point < minimum || code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF)) {
      error_offset = p;
      return false;
    }
    out.push_back({code_point, p, p + length});
    p += length;
  }
  return true;
}

std::string invalid_utf8_message(std::uint64_t offset) {
  return "invalid UTF-8 sequence at byte offset " + std::to_string(offset);
}

void throw_invalid_utf8(std::uint64_t offset) {
  throw SubwordError(invalid_utf8_message(offset));
}

std::vector<CodePointSpan> decode_utf8_code_points(std::string_view text) {
  std::vector<CodePointSpan> out;
  std::uint64_t error_offset = 0;
  if (!try_decode_utf8_code_points(text, out, error_offset)) throw_invalid_utf8(error_offset);
  return out;
}

}  // namespace velmora::detail

#endif  // HWY_ONCE
