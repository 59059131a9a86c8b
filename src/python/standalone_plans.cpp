// Model plans used on their own, outside a pipeline. Each plan loads its bundle in its
// constructor with the thread attached; inference detaches. A plan's `bundle` property
// refers to the bundle inside the plan and keeps the plan alive.
#include <nanobind/stl/filesystem.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <filesystem>
#include <string>
#include <vector>

#include "bindings.hpp"
#include "detach.hpp"
#include "velmora/charlm.hpp"
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
  // CorefPrediction and CorefPlan are registered here, between the two, once the coreference
  // resolver has a plan.
  define_morphseg_plan(m);
}

}  // namespace velmora::detail
