// Model plans used on their own, outside a pipeline. Each plan loads its bundle in its
// constructor with the thread attached; inference detaches. A plan's `bundle` property
// refers to the bundle inside the plan and keeps the plan alive.
#include <nanobind/stl/filesystem.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/string.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "bindings.hpp"
#include "detach.hpp"
#include "sequence_caster.hpp"
#include "velmora/charlm.hpp"
#include "velmora/coref.hpp"
#include "velmora/model_bundle.hpp"
#include "velmora/morphseg.hpp"

namespace nb = nanobind;

namespace velmora::detail {

namespace {

void define_charlm_plan(nb::module_ m) {
  nb::class_<CharLMPlan>(m, "CharLMPlan")
      .def(nb::init<std::filesystem::path, bool>(), nb::arg("bundle_path"),
           nb::arg("verify_checksums") = false)
      .def_prop_ro("bundle", &CharLMPlan::bundle)
      .def_prop_ro("is_forward", &CharLMPlan::is_forward)
      .def_prop_ro("hidden_size", &CharLMPlan::hidden_size)
      .def(
          "encode",
          [](const CharLMPlan& plan, std::vector<std::string> words) {
            return detached([&] { return plan.encode(words); });
          },
          nb::arg("words"));
}

// A prediction is a value: each property builds a new list from the stored field.
void define_coref_plan(nb::module_ m) {
  nb::class_<CorefPrediction>(m, "CorefPrediction")
      .def_prop_ro("word_clusters", [](const CorefPrediction& prediction) { return prediction.word_clusters; })
      .def_prop_ro("span_clusters", [](const CorefPrediction& prediction) { return prediction.span_clusters; })
      .def_prop_ro("zero_words", [](const CorefPrediction& prediction) { return prediction.zero_words; });
  nb::class_<CorefPlan>(m, "CorefPlan")
      .def(nb::init<std::filesystem::path, bool>(), nb::arg("bundle_path"), nb::arg("verify_checksums") = false)
      .def_prop_ro("bundle", &CorefPlan::bundle)
      .def_prop_ro("predicts_singletons", &CorefPlan::predicts_singletons)
      .def_prop_ro("predicts_zero_anaphora", &CorefPlan::predicts_zero_anaphora)
      .def(
          "resolve",
          [](const CorefPlan& plan, std::vector<std::string> words, std::vector<std::uint64_t> sentence_ids,
             std::vector<std::string> speakers) {
            return detached([&] { return plan.resolve(words, sentence_ids, speakers); });
          },
          nb::arg("words"), nb::arg("sentence_ids"), nb::arg("speakers") = std::vector<std::string>());
}

void define_morphseg_plan(nb::module_ m) {
  nb::class_<MorphSegPlan>(m, "MorphSegPlan")
      .def(nb::init<std::filesystem::path, bool>(), nb::arg("bundle_path"),
           nb::arg("verify_checksums") = false)
      .def_prop_ro("bundle", &MorphSegPlan::bundle)
      .def(
          "segment",
          [](const MorphSegPlan& plan, std::string word) {
            return detached([&] { return plan.segment(word); });
          },
          nb::arg("word"))
      .def(
          "segment_many",
          [](const MorphSegPlan& plan, std::vector<std::string> words) {
            return detached([&] { return plan.segment_many(words); });
          },
          nb::arg("words"));
}

}  // namespace

void define_standalone_plans(nb::module_ m) {
  define_charlm_plan(m);
  define_coref_plan(m);
  define_morphseg_plan(m);
}

}  // namespace velmora::detail
