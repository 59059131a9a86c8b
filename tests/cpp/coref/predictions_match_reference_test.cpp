// Predictions of the native resolver equal the PyTorch reference's on seeded random-weight
// bundles (windows, attention pooling, scoring, clustering, spans, zero anaphora), on random
// vocabulary words and on treebank sentences full of punctuation ("M.", "n't", e-mail
// addresses) that the tokenizer splits, and the argument checks of resolve.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <stdexcept>

#include "test_support.hpp"

namespace {

using coref_test::data_dir;
using coref_test::require_data;
using velmora::CorefPlan;
using velmora::CorefPrediction;

const CorefPlan& plan(const std::string& bundle) {
  static std::map<std::string, std::unique_ptr<CorefPlan>> plans;
  auto& loaded = plans[bundle];
  if (!loaded) loaded = std::make_unique<CorefPlan>(data_dir() / bundle, false);
  return *loaded;
}

TEST(CorefPredictions, EqualTheReferenceOnEveryCase) {
  require_data();
  const auto cases = velmora::detail::load_json(data_dir() / "cases.json");
  std::size_t clusters = 0;
  std::size_t zero_words = 0;
  std::size_t singletons = 0;
  std::size_t punctuated_words = 0;
  for (const auto& json : cases.as_array("")) {
    const std::string bundle = json.at("bundle", "").as_string("");
    const auto words = coref_test::strings(json.at("words", ""));
    SCOPED_TRACE(bundle + " with " + std::to_string(words.size()) + " words");
    const CorefPrediction expected = coref_test::prediction_from_json(json.at("expected", ""));
    const CorefPrediction actual = plan(bundle).resolve(words, coref_test::indices(json.at("sentence_ids", "")),
                                                        coref_test::strings(json.at("speakers", "")));
    EXPECT_EQ(actual, expected) << "native " << coref_test::describe(actual) << "\nreference "
                                << coref_test::describe(expected);
    clusters += expected.word_clusters.size();
    for (const std::string& word : words) {
      const bool letters = std::any_of(word.begin(), word.end(), [](unsigned char c) { return std::isalpha(c); });
      punctuated_words += letters && std::any_of(word.begin(), word.end(), [](unsigned char c) {
                            return std::ispunct(c);
                          });
    }
    for (std::size_t c = 0; c < expected.word_clusters.size(); ++c) {
      zero_words += expected.zero_words[c].size();
      singletons += expected.word_clusters[c].size() == 1;
    }
  }
  // The cases are only worth comparing when they exercise clusters, singletons, zero words and
  // words the tokenizer splits at punctuation.
  EXPECT_GT(clusters, 10U);
  EXPECT_GT(punctuated_words, 5U);
  EXPECT_GT(zero_words, 0U);
  EXPECT_GT(singletons, 0U);
}

TEST(CorefPredictions, AllListsHaveOneEntryPerClusterAndSpansHoldTheirHeads) {
  require_data();
  const std::vector<std::string> words{"the", "cat", "run", "dog", "a", "cat", "b", "the", "dog", "x"};
  const std::vector<std::uint64_t> sentences{0, 0, 0, 0, 1, 1, 1, 2, 2, 2};
  for (const char* bundle : {"plain", "full", "no_hidden"}) {
    SCOPED_TRACE(bundle);
    const CorefPrediction prediction = plan(bundle).resolve(words, sentences, {});
    ASSERT_EQ(prediction.span_clusters.size(), prediction.word_clusters.size());
    ASSERT_EQ(prediction.zero_words.size(), prediction.word_clusters.size());
    for (std::size_t c = 0; c < prediction.word_clusters.size(); ++c) {
      const auto& heads = prediction.word_clusters[c];
      ASSERT_EQ(prediction.span_clusters[c].size(), heads.size());
      for (std::size_t i = 0; i < heads.size(); ++i) {
        const auto [start, end] = prediction.span_clusters[c][i];
        EXPECT_LE(start, heads[i]);
        EXPECT_LT(heads[i], end);
        EXPECT_EQ(sentences[start], sentences[heads[i]]);
        EXPECT_EQ(sentences[end - 1], sentences[heads[i]]);
      }
      for (const auto zero : prediction.zero_words[c]) {
        EXPECT_NE(std::find(heads.begin(), heads.end(), zero), heads.end());
      }
    }
  }
}

TEST(CorefPredictions, SpeakersDefaultToOnePlaceholderPerWord) {
  require_data();
  const std::vector<std::string> words{"the", "cat", "dog", "the", "cat", "run", "dog"};
  const std::vector<std::uint64_t> sentences{0, 0, 0, 1, 1, 1, 1};
  const CorefPlan& full = plan("full");
  EXPECT_EQ(full.resolve(words, sentences, {}), full.resolve(words, sentences, std::vector<std::string>(7, "_")));
}

TEST(CorefPredictions, ArgumentChecksComeFirst) {
  require_data();
  const CorefPlan& plain = plan("plain");
  const std::vector<std::string> three{"the", "cat", "dog"};
  struct Case {
    std::vector<std::uint64_t> sentences;
    std::vector<std::string> speakers;
    std::string message;
  };
  const std::vector<Case> cases{
      {{0, 0}, {}, "coref words and sentence ids must have equal lengths"},
      {{0, 0, 0}, {"a", "b"}, "coref words and speakers must have equal lengths"},
      {{0, 0, 3}, {}, "coref sentence id is outside the document"},
  };
  for (const Case& c : cases) {
    try {
      plain.resolve(three, c.sentences, c.speakers);
      ADD_FAILURE() << c.message;
    } catch (const std::invalid_argument& error) {
      EXPECT_EQ(error.what(), c.message);
    }
  }
  // Sentence ids are only checked against the word count, not against the sentences that occur.
  EXPECT_NO_THROW(plain.resolve(three, {0, 0, 2}, {}));
  EXPECT_EQ(plain.resolve({}, {}, {}), CorefPrediction{});
}

TEST(CorefPredictions, WordWithEmptyTableEntryIsRefusedByIndex) {
  require_data();
  const CorefPlan blank(data_dir() / "loads" / "blank_table_word", false);
  EXPECT_NO_THROW(blank.resolve({"dog", "the"}, {0, 0}, {}));
  try {
    blank.resolve({"dog", "the", "cat"}, {0, 0, 0}, {});
    FAIL() << "resolved";
  } catch (const velmora::CorefModelError& error) {
    EXPECT_STREQ(error.what(), "coref tokenizer produced a blank word at index 2");
  }
}

}  // namespace
