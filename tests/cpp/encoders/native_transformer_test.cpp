// The transformer as model plans build it from a bundle's "transformer" assets block: the
// package the bundle carries and lists as an artifact, the rules of each key in order, the hidden size the assets
// declare, and the base64 character map of the unigram tokenizer.

#include <gtest/gtest.h>

#include <cstdio>

#include "encoders/transformer_native.hpp"
#include "support/raw_tensor.hpp"
#include "transformer_test_support.hpp"

namespace {

using namespace encoder_test;
using velmora::TransformerError;
using velmora::detail::JsonError;
using velmora::detail::NativeTransformer;
using velmora::detail::parse_json;

std::shared_ptr<const velmora::ModelBundle> bundle() {
  static const auto opened = std::make_shared<const velmora::ModelBundle>(transformer_bundle(), false);
  return opened;
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

const std::string kWordPiece =
    R"({"type": "WordPiece", "vocabulary": ["[UNK]", "[CLS]", "[SEP]", "a"], "lowercase": true,
        "strip_accents": true, "unknown_token": "[UNK]", "cls_token": "[CLS]", "sep_token": "[SEP]",
        "continuing_subword_prefix": "##", "max_input_characters_per_word": 100})";

std::string byte_bpe(const std::string& merges) {
  return R"({"type": "ByteBPE", "vocabulary": ["a", "b"], "merges": )" + merges +
         R"(, "add_prefix_space": false, "unknown_token": "<unk>", "cls_token": "<s>", "sep_token": "</s>"})";
}

std::string unigram(const std::string& charsmap) {
  return R"({"type": "XLMRobertaUnigram", "vocabulary": ["<unk>", "<s>", "</s>"], "scores": [0, -1.5, -2],
             "precompiled_charsmap": )" +
         quoted(charsmap) + R"(, "unknown_id": 0, "cls_token": "<s>", "sep_token": "</s>"})";
}

std::string block(const std::string& tokenizer, const std::string& artifact = "model.pt2",
                  const std::string& max_length = "64", const std::string& hidden = "16",
                  const std::string& backend = "aotinductor") {
  return R"({"backend": )" + quoted(backend) + R"(, "artifact": )" + quoted(artifact) + R"(, "hidden_size": )" +
         hidden + R"(, "model_max_length": )" + max_length + R"(, "tokenizer": )" + tokenizer + "}";
}

struct RefusedBlock {
  std::string label;
  std::string json;
  std::string message;
  bool json_error = false;
};

TEST(NativeTransformerAssets, BrokenBlocksAreRefusedByTheFirstFailingRule) {
  require_data();
  const std::string must_be_at_least_5 = "transformer model_max_length must be at least 5";
  const std::vector<RefusedBlock> cases = {
      {"another backend", block(kWordPiece, "model.pt2", "64", "16", "torchscript"),
       "unsupported transformer runtime backend"},
      {"artifact in a subdirectory", block(kWordPiece, "sub/model.pt2"),
       "transformer artifact must be a bundle-local filename"},
      {"absolute artifact", block(kWordPiece, "/abs/model.pt2"), "transformer artifact must be a bundle-local filename"},
      {"empty artifact", block(kWordPiece, ""), "transformer artifact must be a bundle-local filename"},
      {"artifact naming the parent directory", block(kWordPiece, ".."),
       "transformer artifact must be a bundle-local filename"},
      // Files of the bundle that the manifest does not list as artifacts: their bytes were never
      // sized or digested, so they must not run.
      {"artifact the manifest does not list", block(kWordPiece, "manifest.json"),
       "transformer artifact is not a listed bundle artifact: 'manifest.json'"},
      {"artifact that is not there", block(kWordPiece, "other.pt2"),
       "transformer artifact is not a listed bundle artifact: 'other.pt2'"},
      {"zero hidden size", block(kWordPiece, "model.pt2", "64", "0"), "assets.transformer.hidden_size must be positive"},
      {"zero maximum length", block(kWordPiece, "model.pt2", "0"),
       "assets.transformer.model_max_length must be positive"},
      {"maximum length below the encoder's minimum", block(kWordPiece, "model.pt2", "3"), must_be_at_least_5},
      {"lower-case tokenizer type", block(R"({"type": "wordpiece", "vocabulary": []})"),
       "unsupported native transformer tokenizer type: wordpiece"},
      {"merge of three tokens", block(byte_bpe(R"([["a", "b"], ["a", "b", "c"]])")),
       "byte BPE merge must contain exactly two tokens"},
      {"merge of numbers", block(byte_bpe("[[1, 2]]")), "expected JSON string at assets.transformer.tokenizer.merges[][0]",
       true},
      {"charsmap of six characters", block(unigram("abcdef")), "invalid base64 tokenizer charsmap length"},
      {"charsmap with an asterisk", block(unigram("abcd*fgh")), "invalid base64 tokenizer charsmap"},
      {"zero characters per word",
       block(R"({"type": "WordPiece", "vocabulary": ["[UNK]"], "lowercase": true, "strip_accents": true,
                 "unknown_token": "[UNK]", "cls_token": "[UNK]", "sep_token": "[UNK]",
                 "continuing_subword_prefix": "##", "max_input_characters_per_word": 0})"),
       "assets.transformer.tokenizer.max_input_characters_per_word must be positive"},
      {"vocabulary entry of another type", block(R"({"type": "WordPiece", "vocabulary": ["a", 2]})"),
       "expected JSON string at assets.transformer.tokenizer.vocabulary[]", true},
      {"missing unknown id",
       block(R"({"type": "XLMRobertaUnigram", "vocabulary": ["<unk>"], "scores": [0], "precompiled_charsmap": "",
                 "cls_token": "<s>", "sep_token": "</s>"})"),
       "missing JSON key 'unknown_id' at assets.transformer.tokenizer", true},
      {"missing backend", R"({"artifact": "model.pt2"})", "missing JSON key 'backend' at assets.transformer", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const auto json = parse_json(c.json);
    try {
      NativeTransformer transformer(bundle(), json);
      ADD_FAILURE() << "loaded";
    } catch (const TransformerError& error) {
      EXPECT_FALSE(c.json_error);
      EXPECT_EQ(error.what(), c.message);
    } catch (const JsonError& error) {
      EXPECT_TRUE(c.json_error);
      EXPECT_EQ(error.what(), c.message);
    }
  }
}

TEST(NativeTransformerAssets, CharsmapDecodesStandardBase64) {
  using velmora::detail::decode_charsmap_base64;
  using Bytes = std::vector<std::uint8_t>;
  EXPECT_EQ(decode_charsmap_base64(""), Bytes{});
  EXPECT_EQ(decode_charsmap_base64("TWFu"), (Bytes{'M', 'a', 'n'}));
  EXPECT_EQ(decode_charsmap_base64("TWE="), (Bytes{'M', 'a'}));
  EXPECT_EQ(decode_charsmap_base64("TQ=="), (Bytes{'M'}));
  EXPECT_EQ(decode_charsmap_base64("+/8A"), (Bytes{0xFB, 0xFF, 0x00}));
  EXPECT_EQ(decode_charsmap_base64("TWFuTQ=="), (Bytes{'M', 'a', 'n', 'M'}));
  for (const char* misplaced : {"TQ==TWFu", "T=Fu", "TW=u", "====", "TQ=A"}) {
    SCOPED_TRACE(misplaced);
    EXPECT_THROW(decode_charsmap_base64(misplaced), TransformerError);
  }
}

TEST(NativeTransformerAssets, BundleBlockEncodesLikeTheReference) {
  require_data();
  const NativeTransformer transformer(bundle(), transformer_assets().at("transformer", ""));
  EXPECT_EQ(transformer.hidden_size(), 16);
  const std::vector<std::string> words = {"the", "cats", "running", "unbreakable", "dog", "xyz"};
  expect_close(transformer.encode(words, true),
               velmora::testing::read_raw_tensor(transformer_dir() / "split_words_with_endpoints.bin"), 1e-4, 1e-5);
  EXPECT_EQ(transformer.encode({}, false).sizes(), (at::IntArrayRef{0, 16}));
  EXPECT_EQ(transformer.encode({}, true).sizes(), (at::IntArrayRef{2, 16}));
  const auto encoding = transformer.tokenize({"cats"}, false);
  EXPECT_EQ(encoding.word_ids, (std::vector<std::int64_t>{0, 0}));
  EXPECT_EQ(transformer.encode_ids(encoding.input_ids, {}).sizes(), (at::IntArrayRef{2, 16}));
  EXPECT_EQ(transformer.encode_ids({}, {}).sizes(), (at::IntArrayRef{0, 16}));
}

TEST(NativeTransformerAssets, PackageWiderOrNarrowerThanDeclaredFailsEveryEncoding) {
  require_data();
  // The package produces 16 columns; the assets declare 17.
  const auto json = parse_json(block(kWordPiece, "model.pt2", "64", "17"));
  const NativeTransformer transformer(bundle(), json);
  EXPECT_EQ(transformer.hidden_size(), 17);
  const std::string message = "AOTInductor transformer output hidden size disagrees with assets";
  for (const bool keep_endpoints : {false, true}) {
    try {
      transformer.encode({"a"}, keep_endpoints);
      ADD_FAILURE() << "encoded";
    } catch (const TransformerError& error) {
      EXPECT_EQ(error.what(), message);
    }
  }
  try {
    transformer.encode_ids({1, 3, 2}, {});
    ADD_FAILURE() << "encoded";
  } catch (const TransformerError& error) {
    EXPECT_EQ(error.what(), message);
  }
  EXPECT_EQ(transformer.encode({}, false).sizes(), (at::IntArrayRef{0, 17}));
}

}  // namespace

namespace {

// The JSON strings of the 256 byte-level base tokens other than "a" and "b": printable bytes stand
// for themselves, the others for the code points from U+0100 up, in byte order.
std::string other_byte_tokens() {
  std::string tokens;
  std::uint32_t shifted = 256;
  for (std::uint32_t byte = 0; byte < 256; ++byte) {
    const bool printable = (byte >= 33 && byte <= 126) || (byte >= 161 && byte <= 172) || byte >= 174;
    const std::uint32_t code_point = printable ? byte : shifted++;
    if (byte == 'a' || byte == 'b') continue;
    char escaped[16];
    std::snprintf(escaped, sizeof escaped, ", \"\\u%04X\"", code_point);
    tokens += escaped;
  }
  return tokens;
}

TEST(NativeTransformerAssets, EveryTokenizerTypeFeedsThePackage) {
  require_data();
  // The tokens in use come first, so that their ids stay inside the tiny encoder's vocabulary.
  const std::string bpe = R"({"type": "ByteBPE", "vocabulary": ["<s>", "</s>", "<unk>", "a", "b", "ab")" +
                          other_byte_tokens() + R"(], "merges": [["a", "b"]],
          "add_prefix_space": false, "unknown_token": "<unk>", "cls_token": "<s>", "sep_token": "</s>"})";
  const std::string xlmr =
      R"({"type": "XLMRobertaUnigram", "vocabulary": ["<unk>", "<s>", "</s>", "▁ab", "▁a", "b"],
          "scores": [0, 0, 0, -1, -2, -2], "precompiled_charsmap": "AAAAAA==", "unknown_id": 0, "cls_token": "<s>",
          "sep_token": "</s>"})";
  for (const auto& tokenizer : {bpe, xlmr}) {
    SCOPED_TRACE(tokenizer);
    const auto json = parse_json(block(tokenizer));
    const NativeTransformer transformer(bundle(), json);
    const auto encoding = transformer.tokenize({"ab", "b"}, true);
    // Each word's row is its last subword's; the endpoints are the first and last subwords.
    std::vector<std::int64_t> rows = {0, -1, -1, static_cast<std::int64_t>(encoding.input_ids.size()) - 1};
    for (std::size_t i = 0; i < encoding.word_ids.size(); ++i) {
      if (encoding.word_ids[i] >= 0) rows[static_cast<std::size_t>(encoding.word_ids[i]) + 1] = static_cast<std::int64_t>(i);
    }
    const at::Tensor subwords = transformer.encode_ids(encoding.input_ids, {});
    const at::Tensor words = transformer.encode({"ab", "b"}, true);
    ASSERT_EQ(words.sizes(), (at::IntArrayRef{4, 16}));
    expect_close(words, subwords.index_select(0, at::tensor(rows)), 0, 0);
  }
  // A byte-level BPE word with no bytes has no subword to take a vector from.
  const NativeTransformer transformer(bundle(), parse_json(block(bpe)));
  try {
    transformer.encode({"ab", ""}, false);
    ADD_FAILURE() << "encoded";
  } catch (const TransformerError& error) {
    EXPECT_EQ(std::string(error.what()), "transformer tokenizer produced no subword for word 1");
  }
}

}  // namespace
