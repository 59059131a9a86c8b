// Documents receive chains: mentions in sentence positions sorted by span, generated empty
// words for zero anaphors numbered after the sentence's empty words, representative mentions
// (longest, then most proper nouns, then earliest), and a clean rerun on the same document.

#include <gtest/gtest.h>

#include "test_support.hpp"
#include "document/document_records.hpp"
#include "velmora/document.hpp"
#include "velmora/document_storage.hpp"
#include "velmora/model_bundle.hpp"
#include "velmora/processor.hpp"
#include "velmora/sequences.hpp"

namespace {

using velmora::CorefChain;
using velmora::CorefPrediction;
using velmora::Document;
using velmora::detail::coref_document_words;
using velmora::detail::store_coref_prediction;

velmora::SentenceInput tagged_sentence(const std::vector<std::pair<std::string, std::string>>& words) {
  velmora::SentenceInput sentence;
  for (std::size_t i = 0; i < words.size(); ++i) {
    velmora::TokenInput token = doc_test::token(static_cast<int>(i) + 1, words[i].first);
    token.words[0].upos = words[i].second;
    sentence.tokens.push_back(std::move(token));
  }
  return sentence;
}

// "John saw Mary" / "he met her there": document words 0 to 6.
Document story(std::vector<velmora::WordInput> second_sentence_empty_words = {}) {
  std::vector<velmora::SentenceInput> sentences{
      tagged_sentence({{"John", "PROPN"}, {"saw", "VERB"}, {"Mary", "PROPN"}}),
      tagged_sentence({{"he", "PRON"}, {"met", "VERB"}, {"her", "PRON"}, {"there", "ADV"}})};
  sentences[1].empty_words = std::move(second_sentence_empty_words);
  sentences[1].speaker = "ann";
  return Document("John saw Mary he met her there", std::move(sentences));
}

std::string position(const velmora::CorefWordPosition& p) {
  return std::to_string(p.word) + (p.empty_index ? "." + std::to_string(*p.empty_index) : "");
}

std::string describe(const CorefChain& chain) {
  std::string text = std::to_string(chain.index()) + ":";
  for (const auto& mention : chain.mentions()) {
    text += " " + std::to_string(mention.sentence()) + "[" + position(mention.start_word()) + "," +
            position(mention.end_word()) + ")";
  }
  text += " '" + chain.representative_text() + "' ";
  text += chain.representative_index() ? std::to_string(*chain.representative_index()) : "none";
  return text;
}

std::vector<std::string> chains_of(const Document& document) {
  std::vector<std::string> result;
  for (const auto& chain : document.coref()) result.push_back(describe(*chain));
  return result;
}

std::vector<std::string> empty_words_of(const Document& document, unsigned sentence) {
  std::vector<std::string> result;
  const auto& storage = *document.storage();
  for (const auto row : storage.sentence_empty_words[sentence]) {
    result.push_back(std::to_string(storage.word_id[row]) + "." + std::to_string(storage.word_empty_index[row]) + " " +
                     storage.pool.get(storage.word_text[row]) + "/" + storage.pool.get(storage.word_lemma[row]));
  }
  return result;
}

CorefPrediction prediction(std::vector<std::vector<std::uint64_t>> heads,
                           std::vector<std::vector<std::pair<std::uint64_t, std::uint64_t>>> spans,
                           std::vector<std::vector<std::uint64_t>> zeros = {}) {
  if (zeros.empty()) zeros.resize(heads.size());
  return {std::move(heads), std::move(spans), std::move(zeros)};
}

std::vector<std::string> stored(const Document& document, const CorefPrediction& predicted) {
  store_coref_prediction(document, coref_document_words(document), predicted);
  return chains_of(document);
}

TEST(CorefDocumentChains, MentionsAndRepresentativesFollowTheSpans) {
  struct Case {
    const char* label;
    CorefPrediction predicted;
    std::vector<std::string> chains;
  };
  const std::vector<Case> cases{
      {"one-word mentions, the proper noun represents", prediction({{0, 3}}, {{{0, 1}, {3, 4}}}),
       {"0: 0[0,1) 1[0,1) 'John' 0"}},
      {"the longest mention represents, texts joined by one space", prediction({{0, 3}}, {{{0, 1}, {3, 6}}}),
       {"0: 0[0,1) 1[0,3) 'he met her' 1"}},
      {"equal lengths: more proper nouns wins even later", prediction({{1, 2}}, {{{1, 2}, {2, 3}}}),
       {"0: 0[1,2) 0[2,3) 'Mary' 1"}},
      {"equal lengths and nouns: the earlier wins", prediction({{0, 1}}, {{{0, 2}, {1, 3}}}),
       {"0: 0[0,2) 0[1,3) 'John saw' 0"}},
      {"mentions are sorted by span, not by head", prediction({{1, 2}, {4, 6}}, {{{1, 3}, {0, 3}}, {{4, 5}, {3, 7}}}),
       {"0: 0[0,3) 0[1,3) 'John saw Mary' 0", "1: 1[0,4) 1[1,2) 'he met her there' 0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(stored(story(), c.predicted), c.chains);
  }
}

TEST(CorefDocumentChains, ZeroAnaphorsBecomeEmptyWordsBeforeTheirHeads) {
  struct Case {
    const char* label;
    std::vector<velmora::WordInput> input_empty_words;
    CorefPrediction predicted;
    std::vector<std::string> chains;
    std::vector<std::string> empty_words;
  };
  const std::vector<Case> cases{
      {"one zero mention", {}, prediction({{0, 4}}, {{{0, 1}, {4, 5}}}, {{4}}),
       {"0: 0[0,1) 1[1.1,1.1) 'John' 0"}, {"1.1 _/_"}},
      {"head first in its sentence", {}, prediction({{0, 3}}, {{{0, 1}, {3, 4}}}, {{3}}),
       {"0: 0[0,1) 1[0.1,0.1) 'John' 0"}, {"0.1 _/_"}},
      {"after an input empty word", {doc_test::empty_word(3, 1, "x")}, prediction({{0, 4}}, {{{0, 1}, {4, 5}}}, {{4}}),
       {"0: 0[0,1) 1[1.2,1.2) 'John' 0"}, {"3.1 x/_", "1.2 _/_"}},
      {"two zeros of two chains count on", {},
       prediction({{0, 4}, {2, 5}}, {{{0, 1}, {4, 5}}, {{2, 3}, {5, 6}}}, {{4}, {5}}),
       {"0: 0[0,1) 1[1.1,1.1) 'John' 0", "1: 0[2,3) 1[2.2,2.2) 'Mary' 0"}, {"1.1 _/_", "2.2 _/_"}},
      {"a chain of zero mentions only", {}, prediction({{3, 5}}, {{{3, 4}, {5, 6}}}, {{3, 5}}),
       {"0: 1[0.1,0.1) 1[2.2,2.2) '_' none"}, {"0.1 _/_", "2.2 _/_"}},
      // The sentence's count would give 1.2, which an input empty word already holds.
      {"an input empty word with the same number is skipped", {doc_test::empty_word(1, 2, "y")},
       prediction({{0, 4}}, {{{0, 1}, {4, 5}}}, {{4}}), {"0: 0[0,1) 1[1.3,1.3) 'John' 0"}, {"1.2 y/_", "1.3 _/_"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto input = c.input_empty_words;
    for (auto& word : input) word.lemma = "_";
    const Document document = story(input);
    EXPECT_EQ(stored(document, c.predicted), c.chains);
    EXPECT_EQ(empty_words_of(document, 1), c.empty_words);
    EXPECT_TRUE(empty_words_of(document, 0).empty());
  }
}

TEST(CorefDocumentChains, SpansOutsideOneSentenceAreRefused) {
  for (const auto& span : std::vector<std::pair<std::uint64_t, std::uint64_t>>{{2, 4}, {1, 1}, {6, 8}, {3, 2}}) {
    SCOPED_TRACE(std::to_string(span.first) + "," + std::to_string(span.second));
    const Document document = story();
    try {
      stored(document, prediction({{0, 6}}, {{{0, 1}, span}}));
      ADD_FAILURE() << "stored";
    } catch (const velmora::CorefModelError& error) {
      EXPECT_STREQ(error.what(), "coref span crossed a sentence boundary");
    }
  }
}

TEST(CorefDocumentChains, ResolverInputIsTheRegularWordsWithTheirSentenceAndSpeaker) {
  const Document document = story({doc_test::empty_word(2, 1, "x")});
  const auto words = coref_document_words(document);
  EXPECT_EQ(words.words, (std::vector<std::string>{"John", "saw", "Mary", "he", "met", "her", "there"}));
  EXPECT_EQ(words.sentence_ids, (std::vector<std::uint64_t>{0, 0, 0, 1, 1, 1, 1}));
  EXPECT_EQ(words.speakers, (std::vector<std::string>{"_", "_", "_", "ann", "ann", "ann", "ann"}));
}

TEST(CorefDocumentChains, SentencesWithoutWordsAreSkippedButKeepTheirIndex) {
  std::vector<velmora::SentenceInput> sentences{velmora::SentenceInput{}, velmora::SentenceInput{},
                                                doc_test::sentence({"he", "met", "her"})};
  const Document document("he met her", std::move(sentences));
  const auto words = coref_document_words(document);
  EXPECT_EQ(words.sentence_ids, (std::vector<std::uint64_t>{0, 0, 0}));
  EXPECT_EQ(words.sentences, (std::vector<std::uint32_t>{2}));
  store_coref_prediction(document, words, prediction({{0, 2}}, {{{0, 1}, {2, 3}}}, {{2}}));
  EXPECT_EQ(chains_of(document), (std::vector<std::string>{"0: 2[0,1) 2[2.1,2.1) 'he' 0"}));
  EXPECT_EQ(empty_words_of(document, 2), (std::vector<std::string>{"2.1 _/_"}));
}

const velmora::CorefPlan& zero_plan() {
  static const velmora::CorefPlan plan(coref_test::data_dir() / "full", false);
  return plan;
}

// Four sentences, after `leading` sentences without words.
Document generated_story(std::size_t leading = 0) {
  std::vector<velmora::SentenceInput> sentences(leading);
  for (const auto& words : std::vector<std::vector<std::string>>{
           {"the", "cat", "dog", "run"}, {"a", "cat", "the", "dog", "x"}, {"un", "dog", "cat"}, {"b", "the", "cat"}}) {
    sentences.push_back(doc_test::sentence(words));
  }
  return Document("the cat dog run a cat the dog x un dog cat b the cat", std::move(sentences));
}

TEST(CorefDocumentChains, ProcessingTwiceGivesTheSameChainsAndEmptyWords) {
  coref_test::require_data();
  const Document document = generated_story();
  const Document result = zero_plan().process(document);
  EXPECT_TRUE(result.same_storage(document));
  const auto chains = chains_of(document);
  const auto words = document.storage()->num_word_rows();
  ASSERT_FALSE(chains.empty());
  zero_plan().process(document);
  EXPECT_EQ(chains_of(document), chains);
  EXPECT_EQ(document.storage()->num_word_rows(), words);

  // The chains are exactly the resolver's prediction turned into sentence positions.
  const auto input = coref_document_words(document);
  const CorefPrediction predicted = zero_plan().resolve(input.words, input.sentence_ids, input.speakers);
  const Document fresh = generated_story();
  EXPECT_EQ(stored(fresh, predicted), chains);
  std::size_t zeros = 0;
  for (const auto& cluster : predicted.zero_words) zeros += cluster.size();
  EXPECT_EQ(words - document.num_words(), zeros);
}

TEST(CorefDocumentChains, LeadingSentencesWithoutWordsDoNotStopResolution) {
  coref_test::require_data();
  const Document expected = zero_plan().process(generated_story());
  const Document document = generated_story(3);
  ASSERT_NO_THROW(zero_plan().process(document));
  ASSERT_EQ(document.coref().size(), expected.coref().size());
  for (std::size_t c = 0; c < expected.coref().size(); ++c) {
    const auto& mentions = document.coref()[c]->mentions();
    ASSERT_EQ(mentions.size(), expected.coref()[c]->mentions().size());
    for (std::size_t m = 0; m < mentions.size(); ++m) {
      EXPECT_EQ(mentions[m].sentence(), expected.coref()[c]->mentions()[m].sentence() + 3);
    }
  }
}

TEST(CorefDocumentChains, NoClustersClearEarlierChains) {
  coref_test::require_data();
  Document document("", {});
  document.set_coref({CorefChain(0, {}, "old", std::nullopt)});
  zero_plan().process(document);
  EXPECT_TRUE(document.coref().empty());

  const Document story_document = story();
  stored(story_document, prediction({{0, 3}}, {{{0, 1}, {3, 4}}}));
  stored(story_document, CorefPrediction{});
  EXPECT_TRUE(story_document.coref().empty());
}

TEST(CorefDocumentChains, BulkProcessingAnnotatesEveryDocumentInOrder) {
  coref_test::require_data();
  std::vector<Document> documents{generated_story(), Document("", {}), generated_story()};
  const auto results = zero_plan().process_bulk(documents);
  ASSERT_EQ(results.size(), 3U);
  for (std::size_t i = 0; i < 3; ++i) EXPECT_TRUE(results[i].same_storage(documents[i]));
  EXPECT_EQ(chains_of(results[0]), chains_of(results[2]));
  EXPECT_TRUE(results[1].coref().empty());
}

TEST(CorefDocumentChains, TheLoadedStageAnnotatesLikeItsPlan) {
  coref_test::require_data();
  const velmora::CorefProcessor stage(coref_test::data_dir() / "full", false);
  EXPECT_EQ(stage.bundle_path(), zero_plan().bundle().path());
  EXPECT_TRUE(stage.predicts_singletons());
  EXPECT_TRUE(stage.predicts_zero_anaphora());
  const Document document = generated_story();
  EXPECT_TRUE(stage.process(document).same_storage(document));
  const auto expected = chains_of(zero_plan().process(generated_story()));
  EXPECT_EQ(chains_of(document), expected);
  const auto bulk = stage.process_bulk({generated_story(), generated_story()});
  ASSERT_EQ(bulk.size(), 2U);
  EXPECT_EQ(chains_of(bulk[1]), expected);
}

}  // namespace
