// The processor classes: the Processor base and one subclass per pipeline stage. Stages
// taken from a pipeline come to Python as their concrete class. Every call that runs a
// model detaches from the interpreter; construction (model loading) and properties do not.
#include <nanobind/stl/filesystem.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>

#include <filesystem>
#include <string>
#include <type_traits>
#include <vector>

#include "bindings.hpp"
#include "detach.hpp"
#include "sequence_caster.hpp"
#include "velmora/constituency_tree.hpp"
#include "velmora/document.hpp"
#include "velmora/processor.hpp"

namespace nb = nanobind;

namespace velmora::detail {

namespace {

std::string processor_repr(const Processor& processor) {
  return "<" + processor.name() +
         " processor implemented=" + (processor.implemented() ? "True>" : "False>");
}

void define_processor_base(nb::module_ m) {
  // Documents are passed as copies of their handle: the storage is shared, and the
  // Python-held Document is never moved from.
  auto process = [](const Processor& processor, const Document& document) {
    Document handle = document;
    return detached([&] { return processor.process(std::move(handle)); });
  };
  nb::class_<Processor>(m, "Processor")
      .def_prop_ro("name", &Processor::name)
      .def_prop_ro("requires", &Processor::requirements)
      .def_prop_ro("provides", &Processor::provides)
      .def_prop_ro("module", &Processor::module)
      .def_prop_ro("implemented", &Processor::implemented)
      .def("process", process)
      .def("__call__", process)
      .def("bulk_process",
           [](const Processor& processor, std::vector<Document> documents) {
             return detached([&] { return processor.process_bulk(std::move(documents)); });
           })
      .def("__repr__", &processor_repr);
}

// A subclass with its model-less constructor, its model constructor when the stage has one,
// and the path of its bundle.
template <class Stage>
nb::class_<Stage, Processor> stage_class(nb::module_ m, const char* name) {
  nb::class_<Stage, Processor> stage(m, name);
  stage.def(nb::init<>());
  using Path = std::filesystem::path;
  using Subset = std::vector<std::string>;
  if constexpr (std::is_constructible_v<Stage, Path, bool, Subset>) {
    stage.def(nb::init<Path, bool, Subset>(), nb::arg("model_path"),
              nb::arg("verify_checksums") = false, nb::arg("lang_subset") = Subset());
  } else if constexpr (std::is_constructible_v<Stage, Path, bool>) {
    stage.def(nb::init<Path, bool>(), nb::arg("model_path"), nb::arg("verify_checksums") = false);
  }
  stage.def_prop_ro("bundle_path", &Stage::bundle_path);
  return stage;
}

using Words = std::vector<std::string>;
using Sentences = std::vector<Words>;

void define_stages(nb::module_ m) {
  stage_class<LangIDProcessor>(m, "LangIDProcessor")
      .def_prop_ro("lang_subset", &LangIDProcessor::language_subset)
      .def("identify",
           [](const LangIDProcessor& stage, std::string text) {
             return detached([&] { return stage.identify(text); });
           })
      .def("identify_many", [](const LangIDProcessor& stage, Words texts) {
        return detached([&] { return stage.identify_many(texts); });
      });
  stage_class<TokenizeProcessor>(m, "TokenizeProcessor")
      .def("predict_labels", [](const TokenizeProcessor& stage, std::string text) {
        return detached([&] { return stage.predict_labels(text); });
      });
  stage_class<MWTProcessor>(m, "MWTProcessor")
      .def("expand", [](const MWTProcessor& stage, std::string token) {
        return detached([&] { return stage.expand(token); });
      });
  stage_class<POSProcessor>(m, "POSProcessor");
  stage_class<LemmaProcessor>(m, "LemmaProcessor")
      .def(
          "lemmatize",
          [](const LemmaProcessor& stage, std::string word, std::optional<std::string> pos) {
            return detached([&] { return stage.lemmatize(word, pos); });
          },
          nb::arg("word"), nb::arg("pos") = nb::none());
  stage_class<DepparseProcessor>(m, "DepparseProcessor");
  stage_class<NERProcessor>(m, "NERProcessor")
      .def(
          "tag",
          [](const NERProcessor& stage, Words tokens) {
            return detached([&] { return stage.tag(tokens); });
          },
          nb::arg("tokens"));
  stage_class<SentimentProcessor>(m, "SentimentProcessor")
      .def(
          "classify",
          [](const SentimentProcessor& stage, Words tokens) {
            return detached([&] { return stage.classify(tokens); });
          },
          nb::arg("tokens"))
      .def(
          "classify_many",
          [](const SentimentProcessor& stage, Sentences sentences, std::size_t batch_size) {
            return detached([&] { return stage.classify_many(sentences, batch_size); });
          },
          nb::arg("sentences"), nb::arg("batch_size") = 5000);
  stage_class<ConstituencyProcessor>(m, "ConstituencyProcessor")
      .def_prop_ro("uses_xpos", &ConstituencyProcessor::uses_xpos)
      .def(
          "parse",
          [](const ConstituencyProcessor& stage, Words words, Words tags) {
            return detached([&] { return stage.parse(words, tags); });
          },
          nb::arg("words"), nb::arg("tags"))
      .def(
          "parse_many",
          [](const ConstituencyProcessor& stage, Sentences sentences, Sentences tags) {
            return detached([&] { return stage.parse_many(sentences, tags); });
          },
          nb::arg("sentences"), nb::arg("tags"));
  stage_class<CorefProcessor>(m, "CorefProcessor")
      .def_prop_ro("predicts_singletons", &CorefProcessor::predicts_singletons)
      .def_prop_ro("predicts_zero_anaphora", &CorefProcessor::predicts_zero_anaphora);
  stage_class<MorphSegProcessor>(m, "MorphSegProcessor")
      .def(
          "segment",
          [](const MorphSegProcessor& stage, std::string word) {
            return detached([&] { return stage.segment(word); });
          },
          nb::arg("word"))
      .def(
          "segment_many",
          [](const MorphSegProcessor& stage, Words words) {
            return detached([&] { return stage.segment_many(words); });
          },
          nb::arg("words"));
}

}  // namespace

void define_processors(nb::module_ m) {
  define_processor_base(m);
  define_stages(m);
}

}  // namespace velmora::detail
