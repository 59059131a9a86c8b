// The fixed table of the eleven processors and making model-less processors by name.

#include <gtest/gtest.h>

#include <velmora/processor.hpp>

#include <stdexcept>
#include <string>
#include <vector>

namespace velmora {
namespace {

using Names = std::vector<std::string>;

TEST(ProcessorTable, ListsTheElevenProcessorsInTableOrder) {
  const std::vector<ProcessorSpec> specs = processor_specs();
  Names names;
  for (const ProcessorSpec& spec : specs) names.push_back(spec.name);
  EXPECT_EQ(names, (Names{"langid", "tokenize", "mwt", "pos", "lemma", "depparse", "ner",
                          "sentiment", "constituency", "coref", "morphseg"}));
}

TEST(ProcessorTable, RowsCarryRequirementsInReportingOrderAndTheirModule) {
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

TEST(ProcessorTable, EveryCallBuildsAnIndependentTable) {
  std::vector<ProcessorSpec> first = processor_specs();
  const std::vector<ProcessorSpec> second = processor_specs();
  EXPECT_EQ(first, second);
  first[0].name = "changed";
  first.pop_back();
  EXPECT_EQ(processor_specs(), second);
}

TEST(ProcessorTable, SpecProvidesExactlyItsName) {
  const ProcessorSpec spec = detail::make_processor_spec("pos", {"tokenize"}, "ud");
  EXPECT_EQ(spec.name, "pos");
  EXPECT_EQ(spec.requirements, Names{"tokenize"});
  EXPECT_EQ(spec.provides, Names{"pos"});
  EXPECT_EQ(spec.module, "ud");
}

TEST(MakeProcessor, BuildsAModelLessProcessorCarryingItsTableRow) {
  for (const ProcessorSpec& spec : processor_specs()) {
    SCOPED_TRACE(spec.name);
    const std::shared_ptr<Processor> processor = make_processor(spec.name);
    ASSERT_NE(processor, nullptr);
    EXPECT_EQ(processor->name(), spec.name);
    EXPECT_EQ(processor->requirements(), spec.requirements);
    EXPECT_EQ(processor->provides(), spec.provides);
    EXPECT_EQ(processor->module(), spec.module);
    EXPECT_FALSE(processor->implemented());
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

}  // namespace
}  // namespace velmora
