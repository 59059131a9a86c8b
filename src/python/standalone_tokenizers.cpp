// The subword tokenizers used on their own and their common result. Constructors and the
// size properties keep the thread attached; encoding and tokenizing detach (the native word
// caches carry their own locks).
#include <nanobind/stl/pair.h>
#include <nanobind/stl/string.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "bindings.hpp"
#include "detach.hpp"
#include "sequence_caster.hpp"
#include "velmora/subword.hpp"

namespace nb = nanobind;

namespace velmora::detail {

namespace {

using Words = std::vector<std::string>;
using Merges = std::vector<std::pair<std::string, std::string>>;

// A value that only tokenizers and encoders hand out: Python cannot build one.
void define_encoding(nb::module_ m) {
  nb::class_<WordPieceEncoding>(m, "WordPieceEncoding")
      .def_ro("input_ids", &WordPieceEncoding::input_ids)
      .def_ro("attention_mask", &WordPieceEncoding::attention_mask)
      .def_ro("word_ids", &WordPieceEncoding::word_ids);
}

// The members the tokenizers share, added after each constructor in the order listed.
template <class Tokenizer>
void add_encode(nb::class_<Tokenizer>& tokenizer) {
  tokenizer.def(
      "encode",
      [](const Tokenizer& self, Words words, bool add_special_tokens) {
        return detached([&] { return self.encode(words, add_special_tokens); });
      },
      nb::arg("words"), nb::arg("add_special_tokens") = true);
}

template <class Tokenizer>
void add_tokenize(nb::class_<Tokenizer>& tokenizer) {
  tokenizer.def(
      "tokenize",
      [](const Tokenizer& self, std::string text) {
        return detached([&] { return self.tokenize(text); });
      },
      nb::arg("text"));
}

template <class Tokenizer>
void add_sizes(nb::class_<Tokenizer>& tokenizer) {
  tokenizer.def_prop_ro("vocabulary_size", &Tokenizer::vocabulary_size)
      .def_prop_ro("cache_size", &Tokenizer::cache_size)
      .def_prop_ro_static("highway_enabled",
                          [](nb::handle) { return Tokenizer::highway_enabled(); });
}

void define_wordpiece(nb::module_ m) {
  nb::class_<WordPieceTokenizer> tokenizer(m, "WordPieceTokenizer");
  tokenizer.def(nb::init<Words, bool, bool, std::string, std::string, std::string, std::string,
                         std::uint64_t>(),
                nb::arg("vocabulary"), nb::arg("lowercase") = true,
                nb::arg("strip_accents") = true, nb::arg("unknown_token") = "[UNK]",
                nb::arg("cls_token") = "[CLS]", nb::arg("sep_token") = "[SEP]",
                nb::arg("continuing_subword_prefix") = "##",
                nb::arg("max_input_characters_per_word") = 100);
  add_encode(tokenizer);
  add_sizes(tokenizer);
}

void define_byte_bpe(nb::module_ m) {
  nb::class_<ByteBPETokenizer> tokenizer(m, "ByteBPETokenizer");
  tokenizer.def(nb::init<Words, Merges, std::string, std::string, std::string, bool>(),
                nb::arg("vocabulary"), nb::arg("merges"), nb::arg("unknown_token") = "<unk>",
                nb::arg("cls_token") = "<s>", nb::arg("sep_token") = "</s>",
                nb::arg("add_prefix_space") = false);
  add_encode(tokenizer);
  add_tokenize(tokenizer);
  add_sizes(tokenizer);
}

void define_xlm_roberta(nb::module_ m) {
  nb::class_<XLMRobertaTokenizer> tokenizer(m, "XLMRobertaTokenizer");
  tokenizer.def(nb::init<Words, std::vector<float>, std::vector<std::uint8_t>, std::int64_t,
                         std::string, std::string>(),
                nb::arg("vocabulary"), nb::arg("scores"), nb::arg("precompiled_charsmap"),
                nb::arg("unknown_id"), nb::arg("cls_token") = "<s>",
                nb::arg("sep_token") = "</s>");
  add_encode(tokenizer);
  add_tokenize(tokenizer);
  add_sizes(tokenizer);
}

}  // namespace

void define_standalone_tokenizers(nb::module_ m) {
  define_encoding(m);
  define_wordpiece(m);
  define_byte_bpe(m);
  define_xlm_roberta(m);
}

}  // namespace velmora::detail
