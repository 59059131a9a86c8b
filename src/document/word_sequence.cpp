#include <stdexcept>

#include "velmora/document.hpp"

namespace velmora {

WordSequence::WordSequence(std::shared_ptr<DocumentStorage> storage, SequenceRange range)
    : storage_(std::move(storage)), range_(range) {}

WordSequence::WordSequence(std::shared_ptr<DocumentStorage> storage, RowList rows)
    : storage_(std::move(storage)),
      range_{0, 1, rows.size()},
      rows_(std::make_shared<const RowList>(std::move(rows))) {}

WordSequence::WordSequence(std::shared_ptr<DocumentStorage> storage, SequenceRange range,
                           std::shared_ptr<const RowList> rows)
    : storage_(std::move(storage)), range_(range), rows_(std::move(rows)) {}

std::uint32_t WordSequence::resolve(long index) const {
  const std::uint32_t position = range_.resolve(index);
  if (!rows_) return position;
  if (position >= rows_->size()) {
    throw std::out_of_range("a word sequence position lies outside its row list");
  }
  return (*rows_)[position];
}

Word WordSequence::at(long index) const {
  // Without a sentence, the Word constructor refuses the ROOT row like any row that the
  // storage does not have.
  return Word(storage_, resolve(index));
}

WordSequence WordSequence::slice(long start, long step, unsigned long length) const {
  return WordSequence(storage_, range_.slice(start, step, length), rows_);
}

WordSequence WordSequence::reversed() const {
  return WordSequence(storage_, range_.reversed(), rows_);
}

bool WordSequence::contains(const Word& word) const {
  if (range_.length == 0 || word.storage() != storage_ || word.is_root()) return false;
  for (std::uint64_t p = 0; p < range_.length; ++p) {
    const auto position = static_cast<std::uint32_t>(range_.offset_of(p));
    std::uint32_t row = position;
    if (rows_) {
      if (position >= rows_->size()) continue;
      row = (*rows_)[position];
    }
    if (row == word.index()) return true;
  }
  return false;
}

}  // namespace velmora
