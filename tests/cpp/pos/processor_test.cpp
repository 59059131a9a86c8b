// The "pos" stage with a loaded tagger, alone and after the tokenizer in a pipeline built from a
// model directory.

#include <gtest/gtest.h>

#include <velmora/pipeline.hpp>
#include <velmora/processor.hpp>

#include <string>
#include <vector>

#include "pos/test_support.hpp"

namespace {

std::filesystem::path models() { return pos_test::data_dir() / "models"; }
std::filesystem::path pos_bundle() { return models() / "1.14.0" / "en" / "pos_default"; }

std::vector<std::vector<std::string>> word_texts(const velmora::Document& document) {
  std::vector<std::vector<std::string>> result;
  const auto sentences = document.sentences();
  for (std::uint64_t s = 0; s < sentences.size(); ++s) {
    std::vector<std::string> words;
    const auto sequence = sentences.at(static_cast<long>(s)).words();
    for (std::uint64_t w = 0; w < sequence.size(); ++w) words.push_back(sequence.at(static_cast<long>(w)).text());
    result.push_back(std::move(words));
  }
  return result;
}

TEST(POSProcessor, ForwardsToItsTagger) {
  POS_REQUIRE_TEST_DATA();
  const velmora::POSProcessor stage(pos_bundle(), true);
  EXPECT_TRUE(stage.implemented());
  EXPECT_EQ(stage.bundle_path(), pos_bundle());
  EXPECT_EQ(stage.name(), "pos");
  const velmora::POSPlan plan(pos_bundle(), false);
  const velmora::Document document = pos_test::document_of({{"the", "cat"}, {"dog"}});
  const velmora::Document result = stage.process(document);
  EXPECT_TRUE(result.same_storage(document));
  EXPECT_EQ(pos_test::stored_tags(document)[0], plan.tag({"the", "cat"}));
  const std::vector<velmora::Document> bulk = stage.process_bulk({pos_test::document_of({{"dog"}})});
  EXPECT_EQ(pos_test::stored_tags(bulk[0])[0], plan.tag({"dog"}));
  EXPECT_TRUE(stage.process_bulk({}).empty());
}

TEST(POSProcessor, RefusesABundleOfAnotherProcessor) {
  POS_REQUIRE_TEST_DATA();
  try {
    velmora::POSProcessor stage(models() / "1.14.0" / "en" / "tokenize_default", false);
    ADD_FAILURE() << "accepted";
  } catch (const velmora::POSModelError& error) {
    EXPECT_STREQ(error.what(), "expected a POS bundle, got 'tokenize'");
  }
}

TEST(POSProcessor, TagsEveryWordAfterTheTokenizer) {
  POS_REQUIRE_TEST_DATA();
  const velmora::Pipeline pipeline("en", {"tokenize", "pos"}, "default", models(), "1.14.0", false, {});
  const velmora::POSPlan plan(pos_bundle(), false);
  const std::vector<std::string> texts = {"The cat sat on the mat. A dog runs!", "New York is big?!"};
  const std::vector<velmora::Document> documents = pipeline.process_bulk(texts);
  for (std::size_t d = 0; d < texts.size(); ++d) {
    const velmora::Document alone = pipeline.process(texts[d]);
    const auto sentences = word_texts(alone);
    ASSERT_FALSE(sentences.empty());
    const auto tags = pos_test::stored_tags(alone);
    for (std::size_t s = 0; s < sentences.size(); ++s) EXPECT_EQ(tags[s], plan.tag(sentences[s])) << d << " " << s;
    EXPECT_EQ(pos_test::stored_tags(documents[d]), tags) << d;
  }
}

}  // namespace
