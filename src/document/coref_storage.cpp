// Storing coreference chains: one shared chain object per chain, and one attachment per word
// of every mention.

#include <stdexcept>
#include <utility>

#include "velmora/document_storage.hpp"

namespace velmora {

void DocumentStorage::set_coref(const std::vector<CorefChain>& chains) {
  // Everything is checked and built aside first, so that a refused chain list leaves the
  // previous annotation intact.
  std::vector<std::shared_ptr<const CorefChain>> stored;
  stored.reserve(chains.size());
  std::vector<std::pair<Row, CorefAttachment>> attachments;
  for (const CorefChain& given : chains) {
    auto chain = std::make_shared<const CorefChain>(given);
    stored.push_back(chain);
    const std::optional<int> representative = chain->representative_index();
    const auto& mentions = chain->mentions();
    for (std::size_t k = 0; k < mentions.size(); ++k) {
      const CorefMention& mention = mentions[k];
      const int sentence = mention.sentence();
      if (sentence < 0 || static_cast<std::size_t>(sentence) >= sentence_text.size()) {
        throw std::out_of_range("a coreference mention has an invalid sentence index");
      }
      const CorefWordPosition& start = mention.start_word();
      const CorefWordPosition& end = mention.end_word();
      if (!start.empty_index && !end.empty_index) {
        const Row first = sentence_word_offsets[sentence];
        const std::int64_t count = std::int64_t{sentence_word_offsets[sentence + 1]} - first;
        const std::int64_t s = start.word;
        const std::int64_t e = end.word;
        if (s < 0 || e < s || e > count) {
          throw std::out_of_range("a coreference mention has an invalid word range");
        }
        const bool is_representative = representative && *representative == static_cast<int>(k);
        for (std::int64_t p = s; p < e; ++p) {
          attachments.emplace_back(static_cast<Row>(first + p),
                                   CorefAttachment(chain, p == s, p + 1 == e, is_representative));
        }
        continue;
      }
      if (!start.empty_index || !end.empty_index || start.word != end.word ||
          *start.empty_index != *end.empty_index) {
        throw std::out_of_range("a zero coreference mention must name one empty word");
      }
      Row match = kNoRow;
      for (const Row r : sentence_empty_words[sentence]) {
        if (word_id[r] == start.word && word_empty_index[r] == *start.empty_index) {
          match = r;
          break;
        }
      }
      if (match == kNoRow) {
        throw std::out_of_range("a zero coreference mention has no matching empty word");
      }
      attachments.emplace_back(match, CorefAttachment(chain, true, true, false));
    }
  }
  for (auto& entry : word_coref) entry.clear();
  for (auto& [row, attachment] : attachments) word_coref[row].push_back(std::move(attachment));
  coref_chains = std::move(stored);
}

}  // namespace velmora
