#include "tokenize/address_repair.hpp"

#include <string_view>

#include "tokenize/address_search.hpp"
#include "tokenize/patterns.hpp"

namespace velmora::detail {

void repair_address_labels(const TokenizerParagraph& units, std::vector<std::int64_t>& labels) {
  const std::string text = paragraph_text(units);
  if (text.empty()) return;
  // Both alternatives need an at-sign or a full stop; skip the matcher when neither occurs.
  if (std::string_view(text).find_first_of("@.") == std::string_view::npos) return;

  std::vector<float> marks(units.size(), 0.0F);
  mark_matches(text, find_address_matches(text), marks);
  const std::size_t n = units.size();
  std::size_t i = 0;
  while (i < n) {
    if (marks[i] == 0.0F) {
      ++i;
      continue;
    }
    std::size_t j = i;
    while (j < n && marks[j] != 0.0F) ++j;
    for (std::size_t k = i; k + 1 < j; ++k) labels[k] = 0;
    if (labels[j - 1] == 0) labels[j - 1] = 1;
    i = j;
  }
}

}  // namespace velmora::detail
