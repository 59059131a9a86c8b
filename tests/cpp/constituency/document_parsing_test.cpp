// Parsing documents: every sentence gets the tree of its words and XPOS or UPOS tags, through
// the plan and through the constituency processor; a failure leaves every tree as it was.

#include <gtest/gtest.h>

#include <velmora/errors.hpp>
#include <velmora/processor.hpp>

#include "test_support.hpp"
#include "velmora/constituency.hpp"
#include "velmora/document.hpp"

namespace {

using namespace constituency_test;
using velmora::ConstituencyModelError;
using velmora::ConstituencyPlan;
using velmora::ConstituencyProcessor;
using velmora::ConstituencyTree;
using velmora::Document;

struct Tagged {
  std::string text;
  std::optional<std::string> upos;
  std::optional<std::string> xpos;
};

Document document_of(const std::vector<std::vector<Tagged>>& sentences) {
  std::vector<velmora::SentenceInput> records;
  std::string text;
  for (const auto& sentence : sentences) {
    velmora::SentenceInput record;
    int id = 1;
    for (const Tagged& word : sentence) {
      velmora::TokenInput token;
      token.id_start = token.id_end = id;
      token.text = word.text;
      velmora::WordInput input;
      input.id = id++;
      input.text = word.text;
      input.upos = word.upos;
      input.xpos = word.xpos;
      token.words.push_back(input);
      record.tokens.push_back(token);
      text += word.text + " ";
    }
    records.push_back(record);
  }
  return Document(text, records);
}

const std::vector<std::vector<Tagged>> two_sentences = {
    {{"The", "DET", "DT"}, {"cat", "NOUN", "NN"}, {"sat", "VERB", "VBD"}},
    {{"New York", "PROPN", "NNP"}},
};

std::vector<std::string> trees_of(const Document& document) {
  std::vector<std::string> out;
  for (std::uint64_t s = 0; s < document.sentences().size(); ++s) {
    const auto tree = document.sentences().at(static_cast<long>(s)).constituency();
    out.push_back(tree ? tree->to_string() : "<none>");
  }
  return out;
}

class DocumentParsing : public WithTestData {};

TEST_F(DocumentParsing, EverySentenceGetsTheTreeOfItsWordsAndTags) {
  for (const char* variant : {"plain", "everything"}) {
    const ConstituencyPlan plan(compare_bundle(variant), false);
    const Document document = document_of(two_sentences);
    const Document result = plan.process(document);
    EXPECT_TRUE(result.same_storage(document)) << variant;
    const bool xpos = plan.uses_xpos();
    std::vector<std::string> expected;
    for (const auto& sentence : two_sentences) {
      std::vector<std::string> words;
      std::vector<std::string> tags;
      for (const Tagged& word : sentence) {
        words.push_back(word.text);
        tags.push_back(*(xpos ? word.xpos : word.upos));
      }
      expected.push_back(plan.parse(words, tags).to_string());
    }
    EXPECT_EQ(trees_of(document), expected) << variant;
  }
}

TEST_F(DocumentParsing, AMissingTagFailsTheWholeDocumentAndKeepsOldTrees) {
  const ConstituencyPlan upos_plan(compare_bundle("everything"), false);  // reads UPOS
  auto sentences = two_sentences;
  sentences[1][0].upos.reset();
  Document document = document_of(sentences);
  const ConstituencyTree old("OLD", {ConstituencyTree("x")});
  document.sentences().at(0).set_constituency(old);
  try {
    upos_plan.process(document);
    ADD_FAILURE() << "no error";
  } catch (const ConstituencyModelError& error) {
    EXPECT_STREQ(error.what(), "constituency requires UPOS on every word");
  }
  EXPECT_TRUE(document.sentences().at(0).constituency()->same_node(old));
  EXPECT_FALSE(document.sentences().at(1).constituency());

  const ConstituencyPlan xpos_plan(compare_bundle("plain"), false);
  sentences = two_sentences;
  sentences[0][2].xpos.reset();
  try {
    xpos_plan.process(document_of(sentences));
    ADD_FAILURE() << "no error";
  } catch (const ConstituencyModelError& error) {
    EXPECT_STREQ(error.what(), "constituency requires XPOS on every word");
  }
}

TEST_F(DocumentParsing, ParseFailureInALaterSentenceKeepsEarlierSentencesUnchanged) {
  const ConstituencyPlan plan(parse_bundle("no_open"), false);
  // The first sentence parses (its only word is tagged with the root label), the second cannot.
  Document document = document_of({{{"w", "ROOT", "ROOT"}}, {{"v", "NN", "NN"}}});
  EXPECT_THROW(plan.process(document), ConstituencyModelError);
  EXPECT_EQ(trees_of(document), (std::vector<std::string>{"<none>", "<none>"}));
}

TEST_F(DocumentParsing, ProcessBulkStopsAtTheFirstFailingDocument) {
  const ConstituencyPlan plan(compare_bundle("plain"), false);
  EXPECT_TRUE(plan.process_bulk({}).empty());
  auto untagged = two_sentences;
  untagged[0][0].xpos.reset();
  const std::vector<Document> documents = {document_of(two_sentences), document_of(untagged),
                                           document_of(two_sentences)};
  EXPECT_THROW(plan.process_bulk(documents), ConstituencyModelError);
  EXPECT_EQ(trees_of(documents[0])[0].substr(0, 5), "(ROOT");
  EXPECT_EQ(trees_of(documents[1]), (std::vector<std::string>{"<none>", "<none>"}));
  EXPECT_EQ(trees_of(documents[2]), (std::vector<std::string>{"<none>", "<none>"}));

  const std::vector<Document> good = {document_of(two_sentences), document_of(two_sentences)};
  const std::vector<Document> result = plan.process_bulk(good);
  ASSERT_EQ(result.size(), 2u);
  EXPECT_TRUE(result[1].same_storage(good[1]));
  EXPECT_EQ(trees_of(good[0]), trees_of(good[1]));
}

TEST_F(DocumentParsing, ProcessorForwardsToItsPlan) {
  const ConstituencyProcessor processor(compare_bundle("plain"), false);
  const ConstituencyPlan plan(compare_bundle("plain"), false);
  EXPECT_TRUE(processor.implemented());
  EXPECT_EQ(processor.bundle_path(), fs::absolute(compare_bundle("plain")));
  EXPECT_EQ(processor.requirements(), (std::vector<std::string>{"tokenize", "pos"}));
  EXPECT_TRUE(processor.uses_xpos());
  EXPECT_EQ(processor.parse({"the", "cat"}, {"DT", "NN"}).to_string(),
            plan.parse({"the", "cat"}, {"DT", "NN"}).to_string());
  EXPECT_EQ(processor.parse_many({{"cat"}}, {{"NN"}})[0].to_string(), plan.parse({"cat"}, {"NN"}).to_string());

  const Document single = processor.process(document_of(two_sentences));
  const std::vector<Document> bulk = processor.process_bulk({document_of(two_sentences)});
  EXPECT_EQ(trees_of(single), trees_of(plan.process(document_of(two_sentences))));
  EXPECT_EQ(trees_of(bulk[0]), trees_of(single));
  EXPECT_THROW(ConstituencyProcessor(parse_bundle("missing"), false), velmora::ModelBundleError);
}

TEST_F(DocumentParsing, ModelLessProcessorRefusesToParse) {
  const ConstituencyProcessor processor;
  EXPECT_FALSE(processor.implemented());
  EXPECT_FALSE(processor.bundle_path());
  try {
    (void)processor.uses_xpos();
    ADD_FAILURE() << "no error";
  } catch (const velmora::ProcessorNotImplementedError& error) {
    EXPECT_STREQ(error.what(), "the 'constituency' processor has no loaded model bundle");
  }
  EXPECT_THROW(processor.parse({"a"}, {"A"}), velmora::ProcessorNotImplementedError);
  EXPECT_THROW(processor.process(document_of(two_sentences)), velmora::ProcessorNotImplementedError);
  EXPECT_TRUE(processor.process_bulk({}).empty());
}

}  // namespace
