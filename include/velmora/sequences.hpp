#pragma once

// Python-style sequences over the rows of one document storage: negative indices, stepped
// slices and reversal cost only range arithmetic, and no annotation data is ever copied.
// Element access makes the view of the row and checks it against the storage as it is now.
//
// Include velmora/document.hpp to use them: it defines the element views.

#include <cstdint>
#include <memory>
#include <vector>

#include "velmora/sequence_range.hpp"

namespace velmora {

class DocumentStorage;
class Sentence;
class Token;
class Word;
class Span;

namespace detail {

/// The shared part of the sentence, token and span sequences: storage rows addressed by a range.
template <class Derived, class View>
class RowSequence {
 public:
  RowSequence() = default;
  RowSequence(std::shared_ptr<DocumentStorage> storage, SequenceRange range)
      : storage_(std::move(storage)), range_(range) {}

  std::uint64_t size() const noexcept { return range_.length; }
  const std::shared_ptr<DocumentStorage>& storage() const noexcept { return storage_; }
  const SequenceRange& range() const noexcept { return range_; }

  /// The view at a position (negative counts from the end).
  View at(long index) const { return View(storage_, range_.resolve(index)); }
  Derived slice(long start, long step, unsigned long length) const {
    return Derived(storage_, range_.slice(start, step, length));
  }
  Derived reversed() const { return Derived(storage_, range_.reversed()); }

  /// Whether the view's row is one of the sequence's rows in the same storage object.
  bool contains(const View& view) const {
    if (range_.length == 0 || view.storage() != storage_) return false;
    for (std::uint64_t p = 0; p < range_.length; ++p) {
      if (static_cast<std::uint32_t>(range_.offset_of(p)) == view.index()) return true;
    }
    return false;
  }

 private:
  std::shared_ptr<DocumentStorage> storage_;
  SequenceRange range_;
};

}  // namespace detail

class SentenceSequence : public detail::RowSequence<SentenceSequence, Sentence> {
 public:
  using RowSequence::RowSequence;
};

class TokenSequence : public detail::RowSequence<TokenSequence, Token> {
 public:
  using RowSequence::RowSequence;
};

class SpanSequence : public detail::RowSequence<SpanSequence, Span> {
 public:
  using RowSequence::RowSequence;
};

/// Word rows addressed by a range, either directly or through an explicit, shared row list
/// (the empty words of a sentence, or all its words in word order).
class WordSequence {
 public:
  using RowList = std::vector<std::uint32_t>;

  WordSequence() = default;
  WordSequence(std::shared_ptr<DocumentStorage> storage, SequenceRange range);
  WordSequence(std::shared_ptr<DocumentStorage> storage, RowList rows);
  WordSequence(std::shared_ptr<DocumentStorage> storage, SequenceRange range,
               std::shared_ptr<const RowList> rows);

  std::uint64_t size() const noexcept { return range_.length; }
  const std::shared_ptr<DocumentStorage>& storage() const noexcept { return storage_; }
  const SequenceRange& range() const noexcept { return range_; }
  const std::shared_ptr<const RowList>& rows() const noexcept { return rows_; }

  /// The word row at a position (negative counts from the end).
  std::uint32_t resolve(long index) const;
  Word at(long index) const;
  WordSequence slice(long start, long step, unsigned long length) const;
  WordSequence reversed() const;
  /// Whether the word's row is one of the sequence's rows in the same storage object.
  bool contains(const Word& word) const;

 private:
  std::shared_ptr<DocumentStorage> storage_;
  SequenceRange range_;
  std::shared_ptr<const RowList> rows_;
};

}  // namespace velmora
