// Processors without a model keep their identity and refuse every operation that needs one.

#include <gtest/gtest.h>

#include <velmora/constituency_tree.hpp>
#include <velmora/document.hpp>
#include <velmora/errors.hpp>
#include <velmora/processor.hpp>

#include <functional>
#include <memory>
#include <string>
#include <typeindex>
#include <vector>

namespace velmora {
namespace {

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

TEST(ModelLessProcessor, EachNameMakesItsOwnClassWithoutABundle) {
  for (const ProcessorClass& expected : processor_classes()) {
    SCOPED_TRACE(expected.name);
    const std::shared_ptr<Processor> processor = make_processor(expected.name);
    const Processor& stage = *processor;
    EXPECT_EQ(std::type_index(typeid(stage)), expected.type);
    EXPECT_FALSE(processor->implemented());
    EXPECT_EQ(expected.bundle_path(*processor), std::nullopt);
  }
}

TEST(ModelLessProcessor, ProcessingRefusesEveryDocumentNamingTheProcessor) {
  for (const ProcessorClass& expected : processor_classes()) {
    SCOPED_TRACE(expected.name);
    const std::shared_ptr<Processor> processor = make_processor(expected.name);
    EXPECT_EQ(not_implemented_error_of([&] { processor->process(Document("Hello there.")); }),
              not_implemented(expected.name));
    EXPECT_EQ(not_implemented_error_of([&] {
                processor->process_bulk({Document("One."), Document("Two.")});
              }),
              not_implemented(expected.name));
  }
}

TEST(ModelLessProcessor, EmptyListComesBackEmpty) {
  for (const ProcessorClass& expected : processor_classes()) {
    SCOPED_TRACE(expected.name);
    EXPECT_TRUE(make_processor(expected.name)->process_bulk({}).empty());
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

TEST(ModelLessProcessor, LanguageSubsetIsEmptyWithoutAModel) {
  EXPECT_TRUE(LangIDProcessor().language_subset().empty());
}

}  // namespace
}  // namespace velmora
