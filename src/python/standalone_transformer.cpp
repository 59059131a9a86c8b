// The transformer encoder used on its own: a compiled package with one of the three subword
// tokenizers, chosen by the first constructor whose arguments convert. Loading keeps the
// thread attached; encoding, tokenizing and encoding ids detach.
#include <nanobind/stl/filesystem.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/string.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "bindings.hpp"
#include "detach.hpp"
#include "sequence_caster.hpp"
#include "velmora/transformer.hpp"

namespace nb = nanobind;

namespace velmora::detail {

namespace {

using Path = std::filesystem::path;
using Words = std::vector<std::string>;
using Ids = std::vector<std::int64_t>;
using Merges = std::vector<std::pair<std::string, std::string>>;

void add_constructors(nb::class_<TransformerEncoder>& encoder) {
  encoder.def(nb::init<Path, Words, bool, bool, std::uint64_t, std::uint64_t, std::string,
                       std::string, std::string, std::string, std::uint64_t>(),
              nb::arg("model_path"), nb::arg("vocabulary"), nb::arg("lowercase") = true,
              nb::arg("strip_accents") = true, nb::arg("intra_op_threads") = 0,
              nb::arg("model_max_length") = 512, nb::arg("unknown_token") = "[UNK]",
              nb::arg("cls_token") = "[CLS]", nb::arg("sep_token") = "[SEP]",
              nb::arg("continuing_subword_prefix") = "##",
              nb::arg("max_input_characters_per_word") = 100);
  // add_prefix_space has no default: without it a byte-level BPE encoder matches nothing.
  encoder.def(nb::init<Path, Words, Merges, bool, std::uint64_t, std::uint64_t, std::string,
                       std::string, std::string>(),
              nb::arg("model_path"), nb::arg("vocabulary"), nb::arg("merges"),
              nb::arg("add_prefix_space"), nb::arg("intra_op_threads") = 0,
              nb::arg("model_max_length") = 512, nb::arg("unknown_token") = "<unk>",
              nb::arg("cls_token") = "<s>", nb::arg("sep_token") = "</s>");
  encoder.def(nb::init<Path, Words, std::vector<float>, std::vector<std::uint8_t>, std::int64_t,
                       std::uint64_t, std::uint64_t, std::string, std::string>(),
              nb::arg("model_path"), nb::arg("vocabulary"), nb::arg("scores"),
              nb::arg("precompiled_charsmap"), nb::arg("unknown_id"),
              nb::arg("intra_op_threads") = 0, nb::arg("model_max_length") = 512,
              nb::arg("cls_token") = "<s>", nb::arg("sep_token") = "</s>");
}

void add_inference(nb::class_<TransformerEncoder>& encoder) {
  encoder
      .def(
          "encode",
          [](const TransformerEncoder& self, Words words, bool keep_endpoints) {
            return detached([&] { return self.encode(words, keep_endpoints); });
          },
          nb::arg("words"), nb::arg("keep_endpoints") = false)
      .def(
          "tokenize",
          [](const TransformerEncoder& self, Words words, bool add_special_tokens) {
            return detached([&] { return self.tokenize(words, add_special_tokens); });
          },
          nb::arg("words"), nb::arg("add_special_tokens") = true)
      .def(
          "encode_ids",
          [](const TransformerEncoder& self, Ids input_ids, Ids attention_mask) {
            return detached([&] { return self.encode_ids(input_ids, attention_mask); });
          },
          nb::arg("input_ids"), nb::arg("attention_mask") = Ids());
}

}  // namespace

void define_standalone_transformer(nb::module_ m) {
  nb::class_<TransformerEncoder> encoder(m, "TransformerEncoder");
  add_constructors(encoder);
  add_inference(encoder);
  encoder.def_prop_ro("model_path", &TransformerEncoder::model_path)
      .def_static("runtime_version", &TransformerEncoder::runtime_version);
}

}  // namespace velmora::detail
