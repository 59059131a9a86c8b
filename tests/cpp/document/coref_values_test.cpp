// The checks a coreference value makes on its own, and what it keeps.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "velmora/coref_values.hpp"

namespace {

using velmora::CorefAttachment;
using velmora::CorefChain;
using velmora::CorefMention;
using velmora::CorefWordPosition;

template <class Fn>
std::string invalid_argument_of(Fn&& fn) {
  try {
    fn();
  } catch (const std::invalid_argument& error) {
    return error.what();
  }
  return "no invalid_argument";
}

CorefMention regular(int sentence, int start, int end) { return CorefMention(sentence, {start, {}}, {end, {}}); }

TEST(CorefMention, KeepsItsBoundaries) {
  const CorefMention mention = regular(0, 3, 5);
  EXPECT_EQ(mention.sentence(), 0);
  EXPECT_EQ(mention.start_word(), (CorefWordPosition{3, std::nullopt}));
  EXPECT_EQ(mention.end_word(), (CorefWordPosition{5, std::nullopt}));
  EXPECT_FALSE(mention.is_zero_anaphora());

  const CorefMention zero(2, {4, 1}, {4, 1});
  EXPECT_TRUE(zero.is_zero_anaphora());
  EXPECT_EQ(zero.start_word().empty_index, 1);
}

TEST(CorefMention, RefusesANegativeSentenceOnly) {
  EXPECT_EQ(invalid_argument_of([] { regular(-1, 0, 1); }), "a coreference mention sentence index cannot be negative");
  // Order and kind of the boundaries are checked when chains are stored in a document.
  EXPECT_NO_THROW(regular(0, 5, 2));
  EXPECT_NO_THROW(CorefMention(0, {1, 1}, {2, 3}));
  EXPECT_NO_THROW(CorefMention(0, {1, std::nullopt}, {2, 3}));
}

TEST(CorefChain, ChecksIndexBeforeRepresentative) {
  struct Case {
    int index;
    std::size_t mentions;
    std::optional<int> representative;
    std::string error;
  };
  const std::vector<Case> cases = {
      {0, 0, std::nullopt, ""},
      {0, 0, 0, "the representative coreference mention index is invalid"},
      {3, 2, 1, ""},
      {3, 2, 2, "the representative coreference mention index is invalid"},
      {3, 2, -1, "the representative coreference mention index is invalid"},
      {-1, 0, 0, "a coreference chain index cannot be negative"},
      {-1, 2, 0, "a coreference chain index cannot be negative"},
  };
  for (const Case& c : cases) {
    std::vector<CorefMention> mentions(c.mentions, regular(0, 0, 1));
    const std::string error = invalid_argument_of([&] { CorefChain(c.index, mentions, "x", c.representative); });
    EXPECT_EQ(error, c.error.empty() ? "no invalid_argument" : c.error) << "index " << c.index;
  }
}

TEST(CorefChain, KeepsMentionsInOrder) {
  const CorefChain chain(7, {regular(0, 0, 2), regular(1, 3, 4)}, "the dog", 1);
  EXPECT_EQ(chain.index(), 7);
  ASSERT_EQ(chain.mentions().size(), 2u);
  EXPECT_EQ(chain.mentions()[1].sentence(), 1);
  EXPECT_EQ(chain.representative_text(), "the dog");
  EXPECT_EQ(chain.representative_index(), 1);
}

TEST(CorefAttachment, SharesItsChainAndKeepsFlags) {
  auto chain = std::make_shared<const CorefChain>(0, std::vector<CorefMention>{regular(0, 0, 1)}, "it", 0);
  const CorefAttachment attachment(chain, false, true, false);
  EXPECT_EQ(attachment.chain(), chain);
  EXPECT_FALSE(attachment.is_start());
  EXPECT_TRUE(attachment.is_end());
  EXPECT_FALSE(attachment.is_representative());
  EXPECT_NO_THROW(CorefAttachment(nullptr, true, true, true));
}

}  // namespace
