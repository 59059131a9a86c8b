// NFKC case folding through ICU's process-wide normalizers.

#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unicode/utypes.h>

#include <cstdint>
#include <limits>
#include <stdexcept>

#include "velmora/unicode.hpp"

namespace velmora::detail {

namespace {

void check_icu(UErrorCode status, const char* what) {
  if (U_FAILURE(status)) throw std::runtime_error(std::string(what) + u_errorName(status));
}

}  // namespace

std::string unicode_nfkc_casefold_nfc(std::string_view text) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfkc = icu::Normalizer2::getNFKCInstance(status);
  if (nfkc == nullptr && U_SUCCESS(status)) status = U_INTERNAL_PROGRAM_ERROR;
  check_icu(status, "ICU could not initialize the NFKC normalizer: ");
  const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
  if (nfc == nullptr && U_SUCCESS(status)) status = U_INTERNAL_PROGRAM_ERROR;
  check_icu(status, "ICU could not initialize the NFC normalizer: ");

  // ICU strings are indexed by 32-bit integers; a longer text would be cut silently.
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    throw std::invalid_argument("the text is too long for ICU normalization");
  }
  const icu::UnicodeString input =
      icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<std::int32_t>(text.size())));
  icu::UnicodeString compatible = nfkc->normalize(input, status);
  check_icu(status, "ICU NFKC normalization failed: ");
  compatible.foldCase(U_FOLD_CASE_DEFAULT);
  const icu::UnicodeString composed = nfc->normalize(compatible, status);
  check_icu(status, "ICU NFC normalization failed: ");

  std::string out;
  icu::StringByteSink<std::string> sink(&out, composed.length());
  composed.toUTF8(sink);
  return out;
}

}  // namespace velmora::detail
