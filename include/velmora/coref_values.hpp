#pragma once

// Coreference chains as small immutable values. The constructors check only what a
// value can check by itself; checks against a document happen when chains are stored.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

/// One boundary of a mention: a 0-based position among the sentence's regular words,
/// or, with an empty index M, the empty word N.M (word holds N).
struct CorefWordPosition {
  std::int32_t word = 0;
  std::optional<std::int32_t> empty_index;

  friend bool operator==(const CorefWordPosition&, const CorefWordPosition&) = default;
};

/// A regular mention covers the regular words [start.word, end.word) of its sentence; a
/// zero mention (a boundary with an empty index) names one empty word, both boundaries
/// being that word.
class CorefMention {
 public:
  /// Throws std::invalid_argument for a negative sentence index.
  CorefMention(int sentence, CorefWordPosition start, CorefWordPosition end);

  int sentence() const noexcept { return sentence_; }
  const CorefWordPosition& start_word() const noexcept { return start_; }
  const CorefWordPosition& end_word() const noexcept { return end_; }
  /// Whether the mention names an empty word (either boundary has an empty index).
  bool is_zero_anaphora() const noexcept { return start_.empty_index || end_.empty_index; }

 private:
  std::int32_t sentence_;
  CorefWordPosition start_;
  CorefWordPosition end_;
};

/// The mentions of one entity with the text of its representative mention.
class CorefChain {
 public:
  /// Throws std::invalid_argument for a negative index, then for a representative index
  /// outside [0, number of mentions).
  CorefChain(int index, std::vector<CorefMention> mentions, std::string representative_text,
             std::optional<int> representative_index);

  int index() const noexcept { return index_; }
  const std::vector<CorefMention>& mentions() const noexcept { return mentions_; }
  const std::string& representative_text() const noexcept { return representative_text_; }
  std::optional<int> representative_index() const noexcept { return representative_index_; }

 private:
  std::int32_t index_;
  std::vector<CorefMention> mentions_;
  std::string representative_text_;
  std::optional<std::int32_t> representative_index_;
};

/// Links one word to a chain it takes part in.
class CorefAttachment {
 public:
  CorefAttachment(std::shared_ptr<const CorefChain> chain, bool is_start, bool is_end,
                  bool is_representative) noexcept;

  const std::shared_ptr<const CorefChain>& chain() const noexcept { return chain_; }
  /// The word begins a mention of the chain.
  bool is_start() const noexcept { return is_start_; }
  /// The word ends a mention of the chain.
  bool is_end() const noexcept { return is_end_; }
  /// The word lies in the chain's representative mention.
  bool is_representative() const noexcept { return is_representative_; }

 private:
  std::shared_ptr<const CorefChain> chain_;
  bool is_start_;
  bool is_end_;
  bool is_representative_;
};

}  // namespace velmora
