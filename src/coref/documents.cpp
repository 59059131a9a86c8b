// Coreference of documents: the document's regular words go to the resolver as one list; each
// predicted cluster becomes a chain of mentions in sentence positions, a zero anaphor becomes a
// generated empty word just before its head, and each chain's longest mention (more proper
// nouns first among equals) represents it.

#include <algorithm>
#include <utility>

#include "coref/model_state.hpp"
#include "velmora/document.hpp"
#include "velmora/document_storage.hpp"

namespace velmora::detail {
namespace {

// The text a zero anaphor's empty word and its lemma carry, and the speaker of sentences without one.
const std::string kPlaceholder = "_";

struct ChainBuilder {
  DocumentStorage& storage;
  const CorefDocumentWords& words;

  std::uint64_t first_word_of(std::uint64_t sentence) const { return storage.sentence_word_offsets[sentence]; }

  // The empty index of a new empty word N.M: one more than the sentence's empty words, moved
  // past any input empty word N.M that already holds it.
  std::int32_t next_empty_index(std::uint32_t sentence, std::int32_t id) const {
    const std::vector<DocumentStorage::Row>& rows = storage.sentence_empty_words[sentence];
    auto index = static_cast<std::int32_t>(rows.size()) + 1;
    auto taken = [&](std::int32_t candidate) {
      return std::any_of(rows.begin(), rows.end(), [&](DocumentStorage::Row row) {
        return storage.word_id[row] == id && storage.word_empty_index[row] == candidate;
      });
    };
    while (taken(index)) ++index;
    return index;
  }

  CorefMention zero_mention(std::uint32_t sentence, std::int32_t id) {
    WordInput word;
    word.id = id;
    word.empty_index = next_empty_index(sentence, id);
    word.text = kPlaceholder;
    word.lemma = kPlaceholder;
    const CorefWordPosition position{id, word.empty_index};
    storage.add_empty_word(sentence, std::move(word));
    return CorefMention(static_cast<int>(sentence), position, position);
  }

  int proper_nouns(std::uint64_t first, std::uint64_t end) const {
    int count = 0;
    for (std::uint64_t word = first; word < end; ++word) {
      const DocumentStorage::Id upos = storage.word_upos[word];
      if (upos != kNoString && storage.pool.get(upos) == "PROPN") ++count;
    }
    return count;
  }

  std::string text_of(std::uint64_t first, std::uint64_t end) const {
    std::string text;
    for (std::uint64_t word = first; word < end; ++word) {
      if (!text.empty()) text += ' ';
      text += words.words[word];
    }
    return text;
  }

  CorefChain chain(int index, const std::vector<std::uint64_t>& heads, const std::vector<WordSpan>& spans,
                   const std::vector<std::uint64_t>& zero_heads) {
    std::vector<std::pair<WordSpan, std::uint64_t>> mentions_by_span;
    for (std::size_t i = 0; i < heads.size(); ++i) mentions_by_span.emplace_back(spans[i], heads[i]);
    std::sort(mentions_by_span.begin(), mentions_by_span.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });

    std::vector<CorefMention> mentions;
    std::optional<int> representative;
    WordSpan representative_span;
    std::uint64_t best_length = 0;
    int best_proper_nouns = -1;
    for (const auto& [span, head] : mentions_by_span) {
      const auto [first, end] = span;
      const std::vector<std::uint64_t>& sentence_of = words.sentence_ids;
      if (end <= first || end > sentence_of.size() || sentence_of[first] != sentence_of[end - 1]) {
        throw CorefModelError("coref span crossed a sentence boundary");
      }
      const std::uint32_t sentence = words.sentences[sentence_of[first]];
      const std::uint64_t offset = first_word_of(sentence);
      if (std::find(zero_heads.begin(), zero_heads.end(), head) != zero_heads.end()) {
        mentions.push_back(zero_mention(sentence, static_cast<std::int32_t>(head - offset)));
        continue;
      }
      mentions.emplace_back(static_cast<int>(sentence),
                            CorefWordPosition{static_cast<std::int32_t>(first - offset), std::nullopt},
                            CorefWordPosition{static_cast<std::int32_t>(end - offset), std::nullopt});
      const int nouns = proper_nouns(first, end);
      const std::uint64_t length = end - first;
      if (length > best_length || (length == best_length && nouns > best_proper_nouns)) {
        best_length = length;
        best_proper_nouns = nouns;
        representative = static_cast<int>(mentions.size() - 1);
        representative_span = span;
      }
    }
    std::string text = representative ? text_of(representative_span.first, representative_span.second) : kPlaceholder;
    return CorefChain(index, std::move(mentions), std::move(text), representative);
  }
};

}  // namespace

CorefDocumentWords coref_document_words(const Document& document) {
  const DocumentStorage& storage = *document.storage();
  CorefDocumentWords words;
  words.words.reserve(storage.num_words);
  words.sentence_ids.reserve(storage.num_words);
  words.speakers.reserve(storage.num_words);
  for (std::uint32_t sentence = 0; sentence < storage.num_sentences(); ++sentence) {
    const auto first = storage.sentence_word_offsets[sentence];
    const auto end = storage.sentence_word_offsets[sentence + 1];
    if (first == end) continue;
    const DocumentStorage::Id speaker_id = storage.sentence_speaker[sentence];
    const std::string& speaker = speaker_id == kNoString ? kPlaceholder : storage.pool.get(speaker_id);
    for (auto row = first; row < end; ++row) {
      words.words.push_back(storage.pool.get(storage.word_text[row]));
      words.sentence_ids.push_back(words.sentences.size());
      words.speakers.push_back(speaker);
    }
    words.sentences.push_back(sentence);
  }
  return words;
}

void store_coref_prediction(Document document, const CorefDocumentWords& words,
                            const CorefPrediction& prediction) {
  ChainBuilder builder{*document.storage(), words};
  std::vector<CorefChain> chains;
  chains.reserve(prediction.word_clusters.size());
  for (std::size_t c = 0; c < prediction.word_clusters.size(); ++c) {
    chains.push_back(builder.chain(static_cast<int>(c), prediction.word_clusters[c], prediction.span_clusters[c],
                                   prediction.zero_words[c]));
  }
  document.set_coref(chains);
}

}  // namespace velmora::detail
