// Native predictions equal the PyTorch reference on edge-case words and on words of the
// English dev corpus: greedy and beam decoding, edit classes, copy of unknown characters,
// UNK suppression, batched prediction, MWT expansion and lemmas.

#include <velmora/document.hpp>
#include <velmora/lemma.hpp>
#include <velmora/mwt.hpp>
#include <velmora/seq2seq.hpp>

#include "seq2seq/test_support.hpp"

namespace velmora {
namespace {

using namespace seq2seq_test;

class Seq2SeqVariant : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    expected_ = TestData::expected(GetParam());
    words_ = strings(expected_.at("words", ""));
    tags_ = optional_strings(expected_.at("tags", ""));
    suppress_ = expected_.at("suppress_unk", "").as_bool("");
  }

  JsonValue expected_;
  std::vector<std::string> words_;
  std::vector<std::optional<std::string>> tags_;
  bool suppress_ = false;
};

void expect_same(const Seq2SeqPrediction& actual, const Expected& expected, const std::string& word) {
  EXPECT_EQ(actual.text, expected.text) << "word '" << word << "'";
  EXPECT_EQ(actual.edit_class, expected.edit_class) << "word '" << word << "'";
}

TEST_P(Seq2SeqVariant, SingleWordDecodingMatchesTheReference) {
  const Seq2SeqPlan plan(TestData::bundle(GetParam()), false);
  const std::vector<Expected> single = predictions(expected_.at("single", ""));
  const std::vector<Expected> beam = predictions(expected_.at("beam3", ""));
  const std::vector<Expected> flipped = predictions(expected_.at("flipped_suppress", ""));
  for (std::size_t i = 0; i < words_.size(); ++i) {
    expect_same(plan.predict(words_[i], tags_[i], std::nullopt, suppress_), single[i], words_[i]);
  }
  for (std::size_t i = 0; i < beam.size(); ++i) {
    expect_same(plan.predict(words_[i], tags_[i], 3, suppress_), beam[i], words_[i]);
    expect_same(plan.predict(words_[i], tags_[i], std::nullopt, !suppress_), flipped[i], words_[i]);
  }
}

TEST_P(Seq2SeqVariant, BatchedPredictionMatchesTheReferenceAndSingleWords) {
  const Seq2SeqPlan plan(TestData::bundle(GetParam()), false);
  const std::vector<Expected> batched = predictions(expected_.at("batched", ""));
  const std::vector<bool> near_tie = flags(expected_.at("near_tie", ""));
  const std::vector<Seq2SeqPrediction> result = plan.predict_many(words_, tags_, std::nullopt, suppress_);
  ASSERT_EQ(result.size(), words_.size());
  std::size_t compared = 0;
  for (std::size_t i = 0; i < words_.size(); ++i) {
    // Padding, packing and rows leaving the batch as they finish change rounding, which only
    // matters where two scores nearly tie.
    if (near_tie[i]) continue;
    expect_same(result[i], batched[i], words_[i]);
    EXPECT_EQ(result[i], plan.predict(words_[i], tags_[i], std::nullopt, suppress_)) << "word '" << words_[i] << "'";
    ++compared;
  }
  EXPECT_GT(compared, words_.size() * 9 / 10);
}

INSTANTIATE_TEST_SUITE_P(Bundles, Seq2SeqVariant,
                         ::testing::Values("plain", "copy_pos_edit", "copy_beam", "copy_float64"));

TEST(CorpusWords, TheDevCorpusIsPartOfTheComparison) {
  if (!TestData::has_corpus()) GTEST_SKIP() << "shared/data/en_ewt-ud-dev.conllu not found; compared edge-case words only";
  EXPECT_GT(strings(TestData::expected("plain").at("words", "")).size(), 250u);
}

// The seq2seq route with a dictionary, and the piece classifier of one and of two layers.
TEST(ReferenceExpansion, EachRouteMatches) {
  for (const std::string name : {"copy_beam", "classifier", "classifier_two_layers"}) {
    const JsonValue expected = TestData::expected(name);
    const MWTPlan plan(TestData::bundle(name), false);
    const std::vector<std::string> words = strings(expected.at("words", ""));
    const std::vector<std::string> expansions = strings(expected.at("expansions", ""));
    for (std::size_t i = 0; i < words.size(); ++i) EXPECT_EQ(plan.expand(words[i]), expansions[i]) << words[i];
  }
}

class ReferenceLemmas : public ::testing::Test {
 protected:
  void SetUp() override {
    const JsonValue expected = TestData::expected("lemma_ensemble");
    words_ = strings(expected.at("words", ""));
    tags_ = optional_strings(expected.at("tags", ""));
    lemmas_ = strings(expected.at("lemmas", ""));
    near_tie_ = flags(expected.at("near_tie", ""));
  }

  // One document per 50 words, each word a token of its own with its UPOS.
  std::vector<Document> documents() const {
    std::vector<Document> out;
    for (std::size_t first = 0; first < words_.size(); first += 50) {
      SentenceInput sentence;
      for (std::size_t i = first; i < std::min(words_.size(), first + 50); ++i) {
        TokenInput token;
        token.id_start = token.id_end = static_cast<std::int32_t>(i - first + 1);
        token.text = words_[i].empty() ? "_" : words_[i];
        WordInput word;
        word.id = token.id_start;
        word.text = token.text;
        word.upos = tags_[i];
        token.words.push_back(word);
        sentence.tokens.push_back(token);
      }
      out.emplace_back("", std::vector<SentenceInput>{sentence});
    }
    return out;
  }

  std::vector<std::string> words_;
  std::vector<std::optional<std::string>> tags_;
  std::vector<std::string> lemmas_;
  std::vector<bool> near_tie_;
};

TEST_F(ReferenceLemmas, EachWordMatches) {
  const LemmaPlan plan(TestData::bundle("lemma_ensemble"), false);
  EXPECT_TRUE(plan.uses_pos());
  for (std::size_t i = 0; i < words_.size(); ++i) EXPECT_EQ(plan.lemmatize(words_[i], tags_[i]), lemmas_[i]) << words_[i];
}

// A document's words take the batched path, as a list's do.
TEST_F(ReferenceLemmas, DocumentsOneByOneAndInBulkMatch) {
  const LemmaPlan plan(TestData::bundle("lemma_ensemble"), false);
  std::vector<Document> bulk = plan.process_bulk(documents());
  std::vector<Document> single = documents();
  for (Document& document : single) document = plan.process(document);
  std::size_t index = 0;
  for (std::size_t d = 0; d < bulk.size(); ++d) {
    const WordSequence bulk_words = bulk[d].words();
    const WordSequence single_words = single[d].words();
    for (std::size_t w = 0; w < bulk_words.size(); ++w, ++index) {
      if (near_tie_[index]) continue;
      const std::string expected = words_[index].empty() ? plan.lemmatize("_", tags_[index]) : lemmas_[index];
      EXPECT_EQ(single_words.at(static_cast<long>(w)).lemma(), expected) << words_[index];
      EXPECT_EQ(bulk_words.at(static_cast<long>(w)).lemma(), expected) << words_[index];
    }
  }
  EXPECT_EQ(index, words_.size());
}

}  // namespace
}  // namespace velmora
