// Parsing documents: heads and relations written into regular words, one document sentence by
// sentence or many at once, and what a missing POS tag leaves behind in each case.

#include <ATen/Parallel.h>
#include <c10/core/InferenceMode.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "depparse/model_state.hpp"
#include "depparse/peak_memory.hpp"
#include "depparse/relation_labelling.hpp"
#include "depparse/test_data.hpp"
#include "velmora/document.hpp"
#include "velmora/processor.hpp"

namespace {

using depparse_test::TestData;

velmora::WordInput word(int id, std::string text, std::optional<std::string> upos, std::optional<std::string> xpos,
                        std::optional<std::string> lemma = std::nullopt) {
  velmora::WordInput input;
  input.id = id;
  input.text = std::move(text);
  input.upos = std::move(upos);
  input.xpos = std::move(xpos);
  input.lemma = std::move(lemma);
  return input;
}

velmora::SentenceInput sentence(std::vector<velmora::WordInput> words) {
  velmora::SentenceInput input;
  for (auto& w : words) {
    velmora::TokenInput token;
    token.id_start = token.id_end = w.id;
    token.text = w.text;
    token.words.push_back(std::move(w));
    input.tokens.push_back(std::move(token));
  }
  return input;
}

velmora::Document tagged_document() {
  return velmora::Document("The dog saw a cat . cat dog",
                           {sentence({word(1, "The", "DET", "DT", "the"), word(2, "dog", "NOUN", "NN", "dog"),
                                      word(3, "saw", "VERB", "VBD", "see"), word(4, "a", "DET", "DT"),
                                      word(5, "cat", std::nullopt, "NN"), word(6, ".", "PUNCT", std::nullopt)}),
                            sentence({word(1, "cat", "NOUN", "NN"), word(2, "dog", "NOUN", "NN")})});
}

std::vector<velmora::DepparseWord> parser_words(const velmora::WordSequence& words) {
  std::vector<velmora::DepparseWord> result;
  for (std::uint64_t i = 0; i < words.size(); ++i) {
    const velmora::Word w = words.at(static_cast<long>(i));
    result.push_back({w.text(), w.lemma(), w.upos(), w.xpos(), w.feats()});
  }
  return result;
}

void expect_parsed_like(const velmora::DepparsePlan& plan, const velmora::Document& document) {
  const auto sentences = document.sentences();
  for (std::uint64_t s = 0; s < sentences.size(); ++s) {
    const auto words = sentences.at(static_cast<long>(s)).words();
    const auto predictions = plan.parse(parser_words(words));
    ASSERT_EQ(predictions.size(), words.size());
    int roots = 0;
    for (std::uint64_t i = 0; i < words.size(); ++i) {
      const velmora::Word w = words.at(static_cast<long>(i));
      EXPECT_EQ(w.head(), predictions[i].head);
      EXPECT_EQ(w.deprel(), predictions[i].deprel);
      EXPECT_NE(w.head(), static_cast<std::int32_t>(i + 1));
      roots += w.head() == 0;
    }
    EXPECT_EQ(roots, 1);
  }
}

TEST(DepparseDocuments, ProcessWritesHeadsAndRelationsOfEveryWord) {
  DEPPARSE_REQUIRE_TEST_DATA();
  const velmora::DepparsePlan plan(TestData::bundle("plain"), false);
  velmora::Document document = tagged_document();
  const velmora::Document result = plan.process(document);
  EXPECT_EQ(result.storage(), document.storage());
  expect_parsed_like(plan, document);
}

TEST(DepparseDocuments, BulkProcessingMatchesOneByOne) {
  DEPPARSE_REQUIRE_TEST_DATA();
  for (const char* variant : {"plain", "charlm"}) {
    const velmora::DepparsePlan plan(TestData::bundle(variant), false);
    std::vector<velmora::Document> documents{tagged_document(), velmora::Document("no sentences"), tagged_document()};
    const auto results = plan.process_bulk(documents);
    ASSERT_EQ(results.size(), 3u);
    for (const auto& document : results) expect_parsed_like(plan, document);
  }
}

TEST(DepparseDocuments, EmptyWordsKeepTheirValues) {
  DEPPARSE_REQUIRE_TEST_DATA();
  const velmora::DepparsePlan plan(TestData::bundle("plain"), false);
  velmora::SentenceInput input = sentence({word(1, "dog", "NOUN", "NN"), word(2, "saw", "VERB", "VBD")});
  velmora::WordInput empty = word(2, "gone", std::nullopt, std::nullopt);
  empty.empty_index = 1;
  empty.head = 1;
  empty.deprel = "orphan";
  input.empty_words.push_back(empty);
  velmora::Document document("dog saw", {input});
  plan.process(document);
  const velmora::Word kept = document.sentences().at(0).empty_words().at(0);
  EXPECT_EQ(kept.head(), 1);
  EXPECT_EQ(kept.deprel(), "orphan");
  expect_parsed_like(plan, document);
}

TEST(DepparseDocuments, MissingPosFailsAfterEarlierSentencesInProcessAndBeforeAnyInBulk) {
  DEPPARSE_REQUIRE_TEST_DATA();
  const velmora::DepparsePlan plan(TestData::bundle("plain"), false);
  auto untagged = [] {
    return velmora::Document("a b", {sentence({word(1, "cat", "NOUN", "NN")}),
                                     sentence({word(1, "dog", std::nullopt, std::nullopt)})});
  };
  velmora::Document one = untagged();
  EXPECT_THROW(
      {
        try {
          plan.process(one);
        } catch (const velmora::DepparseModelError& error) {
          EXPECT_STREQ(error.what(), "POS must run before depparse");
          throw;
        }
      },
      velmora::DepparseModelError);
  EXPECT_EQ(one.sentences().at(0).words().at(0).head(), 0);

  velmora::Document first = tagged_document();
  velmora::Document second = untagged();
  EXPECT_THROW(plan.process_bulk({first, second}), velmora::DepparseModelError);
  EXPECT_FALSE(first.sentences().at(0).words().at(0).head().has_value());
  EXPECT_FALSE(second.sentences().at(0).words().at(0).head().has_value());
}

TEST(DepparseDocuments, ProcessorForwardsToItsPlan) {
  DEPPARSE_REQUIRE_TEST_DATA();
  const velmora::DepparseProcessor processor(TestData::bundle("plain"), false);
  EXPECT_TRUE(processor.implemented());
  EXPECT_EQ(processor.bundle_path(), std::filesystem::absolute(TestData::bundle("plain")));
  const velmora::DepparsePlan plan(TestData::bundle("plain"), false);
  const velmora::Document processed = processor.process(tagged_document());
  expect_parsed_like(plan, processed);
  const auto documents = processor.process_bulk({tagged_document()});
  expect_parsed_like(plan, documents.at(0));
  EXPECT_TRUE(processor.process_bulk({}).empty());
}

// A pre-split sentence of `count` words cycling through `texts`.
std::vector<velmora::DepparseWord> long_sentence(std::size_t count, const std::vector<std::string>& texts) {
  std::vector<velmora::DepparseWord> words;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string& text = texts[i % texts.size()];
    words.push_back({text, text, "NOUN", "NN", std::nullopt});
  }
  return words;
}

TEST(DepparseDocuments, SentencesOfThousandsOfWordsScoreAndDecodeInBoundedMemory) {
  DEPPARSE_REQUIRE_TEST_DATA();
  const auto model = velmora::detail::load_depparse_model(TestData::bundle("plain"), false);
  c10::InferenceMode inference;
  // Identical words make the greedy heads form many cycles.
  const std::vector<velmora::DepparseWord> words = long_sentence(3000, {"dog"});
  if (!depparse_test::reset_peak_memory()) GTEST_SKIP() << "peak memory cannot be measured here";
  const double before = depparse_test::status_mib("VmRSS").value();
  velmora::detail::DepparseSentenceScores scores = velmora::detail::depparse_sentence_scores(
      *model, velmora::detail::depparse_highway_lstm_forward(*model, words, nullptr, nullptr));
  const at::Tensor arc_values = scores.arcs.to(at::kDouble).contiguous();
  velmora::detail::ScoreMatrix arcs(words.size() + 1);
  for (std::size_t d = 0; d < arcs.size(); ++d) {
    arcs[d].assign(arc_values.const_data_ptr<double>() + d * arcs.size(),
                   arc_values.const_data_ptr<double>() + (d + 1) * arcs.size());
  }
  const velmora::detail::HeadVector heads = velmora::detail::decode_single_root(arcs);
  const velmora::detail::RelationScorer scorer(*model, scores.relation_dependents, scores.relation_heads);
  const velmora::detail::RelationScores relations(arcs.size(), static_cast<std::size_t>(scorer.relations()), scorer);
  const velmora::detail::LabelVector labels = velmora::detail::label_tree_arcs(
      heads, relations, velmora::detail::deprel_class_table(*model, relations.relations()), {});
  const double growth = depparse_test::status_mib("VmHWM").value() - before;
  // Arc scores and a few 3,001 x 3,001 matrices (34 MiB as floats, 69 MiB as doubles); relation
  // scores of every arc alone would take 344 MiB as floats and twice that as doubles, and the
  // recursive decoder one matrix per contraction level (many GiB here). AddressSanitizer keeps
  // freed blocks resident in its quarantine, so its builds get a looser bound.
#if defined(__SANITIZE_ADDRESS__)
  constexpr double limit_mib = 2000.0;
#else
  constexpr double limit_mib = 500.0;
#endif
  EXPECT_LT(growth, limit_mib);
  EXPECT_EQ(std::count(heads.begin() + 1, heads.end(), 0), 1);
  EXPECT_EQ(labels.size(), words.size());
}

TEST(DepparseDocuments, SeveralThreadsGiveTheResultsOfOne) {
  DEPPARSE_REQUIRE_TEST_DATA();
  const velmora::DepparsePlan plan(TestData::bundle("plain"), false);
  auto documents = [] {
    std::vector<velmora::Document> result;
    for (int d = 0; d < 2; ++d) {
      std::vector<velmora::SentenceInput> sentences;
      for (int s = 0; s < 5; ++s) {
        std::vector<velmora::WordInput> words;
        for (int w = 0; w < 2 + (s * 5 + d) % 9; ++w) {
          words.push_back(word(w + 1, (w + s) % 3 == 0 ? "dog" : "cat", "NOUN", "NN"));
        }
        sentences.push_back(sentence(std::move(words)));
      }
      result.emplace_back("", sentences);
    }
    return result;
  };
  auto heads_of = [](const std::vector<velmora::Document>& parsed) {
    std::vector<std::pair<std::optional<std::int32_t>, std::optional<std::string>>> all;
    for (const auto& document : parsed) {
      const auto sentences = document.sentences();
      for (std::uint64_t s = 0; s < sentences.size(); ++s) {
        const auto words = sentences.at(static_cast<long>(s)).words();
        for (std::uint64_t i = 0; i < words.size(); ++i) {
          all.emplace_back(words.at(static_cast<long>(i)).head(), words.at(static_cast<long>(i)).deprel());
        }
      }
    }
    return all;
  };
  const auto one_thread_bulk = heads_of(plan.process_bulk(documents()));
  std::vector<velmora::Document> one_by_one = documents();
  for (auto& document : one_by_one) plan.process(document);
  const int threads = at::get_num_threads();
  at::set_num_threads(2);
  const auto bulk = heads_of(plan.process_bulk(documents()));
  std::vector<velmora::Document> processed = documents();
  for (auto& document : processed) plan.process(document);
  // A missing POS tag in the fourth sentence: the three before it are written, no later one.
  velmora::Document failing = documents()[0];
  failing.sentences().at(3).words().at(0).set_upos(std::nullopt);
  failing.sentences().at(3).words().at(0).set_xpos(std::nullopt);
  EXPECT_THROW(plan.process(failing), velmora::DepparseModelError);
  at::set_num_threads(threads);
  EXPECT_EQ(bulk, one_thread_bulk);
  EXPECT_EQ(heads_of(processed), heads_of(one_by_one));
  for (long s = 0; s < 5; ++s) {
    EXPECT_EQ(failing.sentences().at(s).words().at(0).head().has_value(), s < 3) << "sentence " << s;
  }
}

}  // namespace
