// The fixed table of the eleven processors, making model-less processors by name, which keep
// their identity and refuse every operation that needs a model, and setting the identified
// languages on a list of documents as the language identifier's list operation does.
#include <gtest/gtest.h>

#include <velmora/constituency_tree.hpp>
#include <velmora/document.hpp>
#include <velmora/errors.hpp>
#include <velmora/processor.hpp>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <typeindex>
#include <vector>

namespace velmora {
namespace {

using Names = std::vector<std::string>;

TEST(ProcessorTable, ElevenRowsInTableOrderWithRequirementsInReportingOrderAndTheirModule) {
  struct Row {
    std::string name;
    Names requirements;
    std::string module;
  };
  const std::vector<Row> expected = {
      {"langid", {}, "extended"},
      {"tokenize", {}, "ud"},
      {"mwt", {"tokenize"}, "ud"},
      {"pos", {"tokenize"}, "ud"},
      {"lemma", {"tokenize"}, "ud"},
      {"depparse", {"tokenize", "pos", "lemma"}, "ud"},
      {"ner", {"tokenize"}, "extended"},
      {"sentiment", {"tokenize"}, "extended"},
      {"constituency", {"tokenize", "pos"}, "extended"},
      {"coref", {"tokenize"}, "coref"},
      {"morphseg", {"tokenize"}, "extended"},
  };
  const std::vector<ProcessorSpec> specs = processor_specs();
  ASSERT_EQ(specs.size(), expected.size());
  for (std::size_t index = 0; index < specs.size(); ++index) {
    SCOPED_TRACE(expected[index].name);
    EXPECT_EQ(specs[index].name, expected[index].name);
    EXPECT_EQ(specs[index].requirements, expected[index].requirements);
    EXPECT_EQ(specs[index].provides, Names{expected[index].name});
    EXPECT_EQ(specs[index].module, expected[index].module);
  }
}

TEST(MakeProcessor, RefusesAnyNameNotExactlyInTheTable) {
  for (const std::string name : {"POS", "tokenize ", " tokenize", "", "parser", "lemmas"}) {
    SCOPED_TRACE(name);
    try {
      make_processor(name);
      FAIL() << "no error";
    } catch (const std::invalid_argument& error) {
      EXPECT_EQ(std::string(error.what()), "unknown processor: '" + name + "'");
    }
  }
}

template <class Class>
std::optional<std::filesystem::path> bundle_path_of(const Processor& processor) {
  return dynamic_cast<const Class&>(processor).bundle_path();
}

struct ProcessorClass {
  std::string name;
  std::type_index type;
  std::function<std::optional<std::filesystem::path>(const Processor&)> bundle_path;
};

template <class Class>
ProcessorClass processor_class(std::string name) {
  return {std::move(name), typeid(Class), &bundle_path_of<Class>};
}

const std::vector<ProcessorClass>& processor_classes() {
  static const std::vector<ProcessorClass> classes = {
      processor_class<LangIDProcessor>("langid"),
      processor_class<TokenizeProcessor>("tokenize"),
      processor_class<MWTProcessor>("mwt"),
      processor_class<POSProcessor>("pos"),
      processor_class<LemmaProcessor>("lemma"),
      processor_class<DepparseProcessor>("depparse"),
      processor_class<NERProcessor>("ner"),
      processor_class<SentimentProcessor>("sentiment"),
      processor_class<ConstituencyProcessor>("constituency"),
      processor_class<CorefProcessor>("coref"),
      processor_class<MorphSegProcessor>("morphseg"),
  };
  return classes;
}

std::string not_implemented(const std::string& name) {
  return "the '" + name + "' processor is registered but native inference is not implemented";
}

template <class Call>
std::string not_implemented_error_of(Call&& call) {
  try {
    call();
  } catch (const ProcessorNotImplementedError& error) {
    return error.what();
  }
  return "no error";
}

TEST(MakeProcessor, EachNameMakesItsOwnModelLessClassCarryingItsTableRow) {
  const std::vector<ProcessorSpec> specs = processor_specs();
  ASSERT_EQ(specs.size(), processor_classes().size());
  for (std::size_t index = 0; index < specs.size(); ++index) {
    const ProcessorSpec& spec = specs[index];
    const ProcessorClass& expected = processor_classes()[index];
    SCOPED_TRACE(spec.name);
    ASSERT_EQ(expected.name, spec.name);
    const std::shared_ptr<Processor> processor = make_processor(spec.name);
    ASSERT_NE(processor, nullptr);
    const Processor& stage = *processor;
    EXPECT_EQ(std::type_index(typeid(stage)), expected.type);
    EXPECT_EQ(processor->name(), spec.name);
    EXPECT_EQ(processor->requirements(), spec.requirements);
    EXPECT_EQ(processor->provides(), spec.provides);
    EXPECT_EQ(processor->module(), spec.module);
    EXPECT_FALSE(processor->implemented());
    EXPECT_EQ(expected.bundle_path(*processor), std::nullopt);
  }
}

TEST(ModelLessProcessor, ProcessingRefusesEveryDocumentNamingTheProcessorButPassesAnEmptyList) {
  for (const ProcessorClass& expected : processor_classes()) {
    SCOPED_TRACE(expected.name);
    const std::shared_ptr<Processor> processor = make_processor(expected.name);
    EXPECT_EQ(not_implemented_error_of([&] { processor->process(Document("Hello there.")); }),
              not_implemented(expected.name));
    EXPECT_EQ(not_implemented_error_of([&] {
                processor->process_bulk({Document("One."), Document("Two.")});
              }),
              not_implemented(expected.name));
    EXPECT_TRUE(processor->process_bulk({}).empty());
  }
}

TEST(ModelLessProcessor, ModelOperationsReportTheMissingBundle) {
  const std::vector<std::string> words = {"a", "b"};
  const std::vector<std::vector<std::string>> sentences = {words};
  struct Operation {
    std::string processor;
    std::function<void()> call;
  };
  const std::vector<Operation> operations = {
      {"langid", [] { LangIDProcessor().identify("text"); }},
      {"langid", [] { LangIDProcessor().identify_many({"text"}); }},
      {"langid", [] { LangIDProcessor().identify_many({}); }},
      {"tokenize", [] { TokenizeProcessor().predict_labels("text"); }},
      {"mwt", [] { MWTProcessor().expand("du"); }},
      {"lemma", [] { LemmaProcessor().lemmatize("ran", std::nullopt); }},
      {"lemma", [] { LemmaProcessor().lemmatize("ran", "VERB"); }},
      {"ner", [&] { NERProcessor().tag(words); }},
      {"sentiment", [&] { SentimentProcessor().classify(words); }},
      {"sentiment", [&] { SentimentProcessor().classify_many(sentences, 5000); }},
      {"constituency", [] { ConstituencyProcessor().uses_xpos(); }},
      {"constituency", [&] { ConstituencyProcessor().parse(words, words); }},
      {"constituency", [&] { ConstituencyProcessor().parse_many(sentences, sentences); }},
      {"coref", [] { CorefProcessor().predicts_singletons(); }},
      {"coref", [] { CorefProcessor().predicts_zero_anaphora(); }},
      {"morphseg", [] { MorphSegProcessor().segment("unhappy"); }},
      {"morphseg", [&] { MorphSegProcessor().segment_many(words); }},
  };
  for (const Operation& operation : operations) {
    SCOPED_TRACE(operation.processor);
    EXPECT_EQ(not_implemented_error_of(operation.call),
              "the '" + operation.processor + "' processor has no loaded model bundle");
  }
}

TEST(DocumentLanguages, TextsAreCollectedInListOrder) {
  const std::vector<Document> documents = {Document("Bonjour."), Document(""), Document("Hallo.")};
  EXPECT_EQ(detail::document_texts(documents),
            (std::vector<std::string>{"Bonjour.", "", "Hallo."}));
}

TEST(DocumentLanguages, EachDocumentTakesTheLanguageAtItsIndexReplacingAnEarlierOne) {
  std::vector<Document> documents = {Document("Bonjour."), Document("Hallo."), Document("Hi.")};
  documents[1].set_lang("en");
  detail::set_document_languages(documents, {"fr", "de", "en"});
  EXPECT_EQ(documents[0].lang(), "fr");
  EXPECT_EQ(documents[1].lang(), "de");
  EXPECT_EQ(documents[2].lang(), "en");
}

TEST(DocumentLanguages, AnAnswerOfAnotherLengthIsRefusedBeforeAnyDocumentChanges) {
  for (const std::vector<std::string>& languages :
       {std::vector<std::string>{"fr"}, std::vector<std::string>{"fr", "de", "en"},
        std::vector<std::string>{}}) {
    SCOPED_TRACE(languages.size());
    std::vector<Document> documents = {Document("Bonjour."), Document("Hallo.")};
    documents[0].set_lang("xx");
    try {
      detail::set_document_languages(documents, languages);
      FAIL() << "no error";
    } catch (const LangIDModelError& error) {
      EXPECT_STREQ(error.what(), "LangID language and document counts disagree");
    }
    EXPECT_EQ(documents[0].lang(), "xx");
    EXPECT_EQ(documents[1].lang(), std::nullopt);
  }
}

}  // namespace
}  // namespace velmora
