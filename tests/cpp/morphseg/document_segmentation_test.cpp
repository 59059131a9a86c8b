// Segmentation of documents: every regular word receives its morphemes (replacing earlier ones),
// empty words keep theirs, several documents share batches, and a failed run changes nothing.
// The morphseg pipeline stage forwards to the same plan.

#include <gtest/gtest.h>

#include "test_support.hpp"
#include "velmora/document.hpp"
#include "velmora/morphseg.hpp"
#include "velmora/processor.hpp"

namespace {

using morphseg_test::Morphemes;
using velmora::Document;
using velmora::MorphSegPlan;
using velmora::SentenceInput;
using velmora::TokenInput;
using velmora::WordInput;

WordInput word(int id, std::string text) {
  WordInput input;
  input.id = id;
  input.text = std::move(text);
  return input;
}

Document document_of(const std::vector<std::vector<std::string>>& sentences) {
  std::vector<SentenceInput> inputs;
  for (const auto& forms : sentences) {
    SentenceInput sentence;
    for (std::size_t k = 0; k < forms.size(); ++k) {
      TokenInput token;
      token.id_start = token.id_end = static_cast<int>(k) + 1;
      token.text = forms[k];
      token.words.push_back(word(static_cast<int>(k) + 1, forms[k]));
      sentence.tokens.push_back(std::move(token));
    }
    inputs.push_back(std::move(sentence));
  }
  inputs.front().empty_words.push_back(word(1, "ghost"));
  inputs.front().empty_words.back().empty_index = 1;
  return Document("text", std::move(inputs));
}

std::vector<Morphemes> morphemes_of(const Document& document) {
  std::vector<Morphemes> out;
  const auto words = document.words();
  for (std::uint64_t k = 0; k < words.size(); ++k) out.push_back(words.at(static_cast<long>(k)).morphemes());
  return out;
}

velmora::Word empty_word(const Document& document) { return document.sentences().at(0).empty_words().at(0); }

class MorphSegDocuments : public ::testing::Test {
 protected:
  void SetUp() override { MORPHSEG_REQUIRE_DATA(); }
};

TEST_F(MorphSegDocuments, EveryRegularWordIsSegmentedInPlace) {
  const MorphSegPlan plan(morphseg_test::bundle("main"), false);
  const Document document = document_of({{"Unhappy", "cats"}, {"running", "re-do", "x"}});
  document.words().at(0).set_morphemes({"old", "list"});
  empty_word(document).set_morphemes({"kept"});
  const Document result = plan.process(document);
  EXPECT_TRUE(result.same_storage(document));
  const std::vector<Morphemes> expected = plan.segment_many({"Unhappy", "cats", "running", "re-do", "x"});
  EXPECT_EQ(morphemes_of(document), expected);
  EXPECT_EQ(empty_word(document).morphemes(), (Morphemes{"kept"}));
}

TEST_F(MorphSegDocuments, SeveralDocumentsGetWhatEachGetsAlone) {
  const MorphSegPlan plan(morphseg_test::bundle("batch_one"), false);
  std::vector<Document> documents = {document_of({{"cat", "sun"}}), document_of({{"dog"}, {"kitten", "cat"}})};
  const std::vector<Document> result = plan.process_bulk(documents);
  ASSERT_EQ(result.size(), 2u);
  EXPECT_TRUE(result[1].same_storage(documents[1]));
  EXPECT_EQ(morphemes_of(documents[0]), plan.segment_many({"cat", "sun"}));
  EXPECT_EQ(morphemes_of(documents[1]), plan.segment_many({"dog", "kitten", "cat"}));
  EXPECT_TRUE(plan.process_bulk({}).empty());
}

TEST_F(MorphSegDocuments, FailedRunLeavesDocumentsUnchanged) {
  const MorphSegPlan plan(morphseg_test::bundle("constant_pad"), false);
  const Document document = document_of({{"ab", "cd"}});
  document.words().at(1).set_morphemes({"before"});
  EXPECT_THROW(plan.process(document), velmora::MorphSegModelError);
  EXPECT_EQ(morphemes_of(document), (std::vector<Morphemes>{{}, {"before"}}));
}

TEST_F(MorphSegDocuments, StageForwardsToItsPlan) {
  const velmora::MorphSegProcessor stage(morphseg_test::bundle("constant_copy"), true);
  EXPECT_TRUE(stage.implemented());
  EXPECT_EQ(stage.bundle_path()->filename(), "constant_copy");
  EXPECT_EQ(stage.segment("Un @@Do"), (Morphemes{"un", "do"}));
  EXPECT_EQ(stage.segment_many({"", "Ab"}), (std::vector<Morphemes>{{}, {"ab"}}));
  std::vector<Document> documents = {document_of({{"Ab"}}), document_of({{"C @@d"}})};
  stage.process_bulk(documents);
  EXPECT_EQ(morphemes_of(documents[1]), (std::vector<Morphemes>{{"c", "d"}}));
  EXPECT_EQ(morphemes_of(stage.process(document_of({{"Xy"}}))), (std::vector<Morphemes>{{"xy"}}));
  EXPECT_THROW(velmora::MorphSegProcessor(morphseg_test::bundle("tau_two"), false), velmora::MorphSegModelError);
}

}  // namespace
