// The expansion and lemmatization stages with loaded models, alone and in pipelines built from
// a model directory ("tokenize,mwt" and "tokenize,mwt,lemma").

#include <ATen/Parallel.h>
#include <gtest/gtest.h>

#include <velmora/errors.hpp>
#include <velmora/lemma.hpp>
#include <velmora/mwt.hpp>
#include <velmora/pipeline.hpp>
#include <velmora/tokenizer.hpp>

#include "pipeline/model_directory.hpp"
#include "pipeline/pipeline_request.hpp"

namespace velmora {
namespace {

namespace fs = std::filesystem;

const std::string text =
    "The quick brown Fox jumps over the lazy dog. It costs $1,200.50 today!\n\n"
    "Call (555) 123-4567 now. Name: Jo wrote to jo@example.com on March 3, 2020. Don't stop.";

/// An English model directory with a tokenizer, an expander (seq2seq with a dictionary) and a
/// lemmatizer that does not read POS tags; the German one's lemmatizer does.
class LoadedSeq2SeqStages : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    at::set_num_threads(1);
    directory_ = new pipeline_test::TemporaryModelDirectory();
    ASSERT_TRUE(directory_->run_python(
        "from bundle_writer import write_index\n"
        "from tokenizer_bundle import write_tokenizer_bundle\n"
        "import seq2seq_bundle as sb, seq2seq_test_data as td\n"
        "chars = td.units()\n"
        "for lang in ('en', 'de'):\n"
        "    base = root / '1.14.0' / lang\n"
        "    write_tokenizer_bundle(base / 'tokenize_default', language=lang)\n"
        "    sb.write_seq2seq_bundle(base / 'mwt_default', chars, processor='mwt', copy=True, flat_vocab=True,\n"
        "        extra_assets={'expansion_dict': td.MWT_DICT},\n"
        "        extra_config={'dict_only': False, 'ensemble_dict': True})\n"
        "    sb.write_seq2seq_bundle(base / 'lemma_default', chars, processor='lemma', copy=True, edit=True,\n"
        "        pos=(lang == 'de'), extra_assets={'pos_dict': td.POS_DICT},\n"
        "        extra_config={'ensemble_dict': True})\n"
        "    write_index(root, [{'processor': p, 'package': 'default', 'path': p + '_default'}\n"
        "                       for p in ('tokenize', 'mwt', 'lemma')], language=lang)\n"));
  }
  static void TearDownTestSuite() {
    delete directory_;
    directory_ = nullptr;
  }

  static fs::path bundle(const std::string& name, const std::string& lang = "en") {
    return directory_->root() / "1.14.0" / lang / (name + "_default");
  }
  static fs::path root() { return directory_->root(); }

  static pipeline_test::TemporaryModelDirectory* directory_;
};

pipeline_test::TemporaryModelDirectory* LoadedSeq2SeqStages::directory_ = nullptr;

// A document of one sentence whose second token is marked as a multi-word token.
Document marked_document() {
  SentenceInput sentence;
  for (auto [id, word, misc] : {std::tuple{1, "I", ""}, std::tuple{2, "del", "MWT=Yes"}, std::tuple{3, "Jazz", "MWT=Yes"}}) {
    TokenInput token;
    token.id_start = token.id_end = id;
    token.text = word;
    if (*misc) token.misc = misc;
    sentence.tokens.push_back(token);
  }
  return Document("", {sentence});
}

TEST_F(LoadedSeq2SeqStages, TheStagesReportTheirModels) {
  const MWTProcessor mwt(bundle("mwt"), true);
  EXPECT_TRUE(mwt.implemented());
  EXPECT_EQ(mwt.bundle_path(), bundle("mwt"));
  EXPECT_EQ(mwt.expand("del"), "de el");
  EXPECT_EQ(mwt.expand("Jazz"), MWTPlan(bundle("mwt"), false).expand("Jazz"));

  const LemmaProcessor lemma(bundle("lemma"), false);
  EXPECT_TRUE(lemma.implemented());
  EXPECT_EQ(lemma.bundle_path(), bundle("lemma"));
  EXPECT_EQ(lemma.requirements(), (std::vector<std::string>{"tokenize"}));
  EXPECT_EQ(lemma.lemmatize("dogs", std::string("NOUN")), "dog");

  const LemmaProcessor with_pos(bundle("lemma", "de"), false);
  EXPECT_EQ(with_pos.requirements(), (std::vector<std::string>{"tokenize", "pos"}));
}

TEST_F(LoadedSeq2SeqStages, ExpansionRebuildsTheGivenDocument) {
  const MWTProcessor mwt(bundle("mwt"), false);
  const Document document = marked_document();
  const Document result = mwt.process(document);
  EXPECT_TRUE(result.same_storage(document));
  const Token del = document.tokens().at(1);
  EXPECT_EQ(del.id_range(), (std::pair<std::int32_t, std::int32_t>{2, 3}));
  EXPECT_EQ(del.words().at(0).text(), "de");
  EXPECT_FALSE(del.misc());
  EXPECT_EQ(mwt.process_bulk({marked_document(), marked_document()}).size(), 2u);
}

TEST_F(LoadedSeq2SeqStages, PipelinesRunEndToEnd) {
  const Pipeline expanding = pipeline_test::build({.processors = {"tokenize", "mwt"}, .model_dir = root()});
  const TokenizerPlan tokenizer(bundle("tokenize"), false);
  const MWTPlan expander(bundle("mwt"), false);
  const LemmaPlan lemmatizer(bundle("lemma"), false);
  const Document expanded = expanding.process(text);
  EXPECT_EQ(expanded.to_conll(), expander.process(tokenizer.process(Document(text))).to_conll());

  const Pipeline full = pipeline_test::build({.processors = {"tokenize", "mwt", "lemma"}, .model_dir = root()});
  const Document lemmatized = full.process(text);
  const WordSequence words = lemmatized.words();
  ASSERT_GT(words.size(), 10u);
  for (std::size_t i = 0; i < words.size(); ++i) {
    const Word word = words.at(static_cast<long>(i));
    EXPECT_EQ(word.lemma(), lemmatizer.lemmatize(word.text(), word.upos())) << word.text();
  }
  const std::vector<Document> bulk = full.process_bulk(std::vector<std::string>{text, "Don't stop."});
  ASSERT_EQ(bulk.size(), 2u);
  EXPECT_EQ(bulk[0].to_conll(), lemmatized.to_conll());
}

TEST_F(LoadedSeq2SeqStages, ALemmatizerThatReadsTagsNeedsThePosStage) {
  EXPECT_EQ(pipeline_test::build_failure(
                {.language = "de", .processors = {"tokenize", "mwt", "lemma"}, .model_dir = root()})
                .kind,
            "requirements");
}

}  // namespace
}  // namespace velmora
