#include "encoders/transformer_native.hpp"

#include <filesystem>
#include <utility>

#include "velmora/model_bundle.hpp"

namespace velmora::detail {
namespace {

constexpr std::string_view kBlock = "assets.transformer";
constexpr std::string_view kTokenizer = "assets.transformer.tokenizer";

std::string path_of(std::string_view parent, std::string_view key) { return std::string(parent) + "." + std::string(key); }

const JsonValue& member(const JsonValue& object, std::string_view parent, std::string_view key) {
  return object.at(key, parent);
}

const std::string& string_at(const JsonValue& object, std::string_view parent, std::string_view key) {
  return member(object, parent, key).as_string(path_of(parent, key));
}

bool bool_at(const JsonValue& object, std::string_view parent, std::string_view key) {
  return member(object, parent, key).as_bool(path_of(parent, key));
}

std::uint64_t positive_at(const JsonValue& object, std::string_view parent, std::string_view key) {
  const std::int64_t value = member(object, parent, key).as_integer(path_of(parent, key));
  if (value <= 0) throw TransformerError(path_of(parent, key) + " must be positive");
  return static_cast<std::uint64_t>(value);
}

// The package must be a plain file name inside the bundle directory.
std::filesystem::path bundle_local_artifact(const std::string& name) {
  const std::filesystem::path path(name);
  if (name.empty() || path.has_root_path() || path.has_parent_path() || name == "." || name == "..") {
    throw TransformerError("transformer artifact must be a bundle-local filename");
  }
  return path;
}

int base64_value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

std::unique_ptr<TransformerEncoder> load_encoder(std::filesystem::path package, const JsonValue& tokenizer,
                                                 std::uint64_t max_length) {
  const std::string& type = string_at(tokenizer, kTokenizer, "type");
  std::vector<std::string> vocabulary;
  const std::string entry_path = path_of(kTokenizer, "vocabulary") + "[]";
  for (const JsonValue& token : member(tokenizer, kTokenizer, "vocabulary").as_array(path_of(kTokenizer, "vocabulary"))) {
    vocabulary.push_back(token.as_string(entry_path));
  }
  // The plan's thread count is whatever the process uses.
  constexpr std::uint64_t kAnyThreads = 0;
  if (type == "ByteBPE") {
    std::vector<std::pair<std::string, std::string>> merges;
    const std::string merge_path = path_of(kTokenizer, "merges") + "[]";
    for (const JsonValue& merge : member(tokenizer, kTokenizer, "merges").as_array(path_of(kTokenizer, "merges"))) {
      const auto& pair = merge.as_array(merge_path);
      if (pair.size() != 2) throw TransformerError("byte BPE merge must contain exactly two tokens");
      std::string left = pair[0].as_string(merge_path + "[0]");
      merges.emplace_back(std::move(left), pair[1].as_string(merge_path + "[1]"));
    }
    const bool add_prefix_space = bool_at(tokenizer, kTokenizer, "add_prefix_space");
    std::string unknown = string_at(tokenizer, kTokenizer, "unknown_token");
    std::string cls = string_at(tokenizer, kTokenizer, "cls_token");
    std::string sep = string_at(tokenizer, kTokenizer, "sep_token");
    return std::make_unique<TransformerEncoder>(std::move(package), std::move(vocabulary), std::move(merges),
                                                add_prefix_space, kAnyThreads, max_length, std::move(unknown),
                                                std::move(cls), std::move(sep));
  }
  if (type == "XLMRobertaUnigram") {
    std::vector<float> scores;
    const std::string score_path = path_of(kTokenizer, "scores") + "[]";
    for (const JsonValue& score : member(tokenizer, kTokenizer, "scores").as_array(path_of(kTokenizer, "scores"))) {
      scores.push_back(static_cast<float>(score.as_number(score_path)));
    }
    std::vector<std::uint8_t> charsmap = decode_charsmap_base64(string_at(tokenizer, kTokenizer, "precompiled_charsmap"));
    const std::int64_t unknown_id = member(tokenizer, kTokenizer, "unknown_id").as_integer(path_of(kTokenizer, "unknown_id"));
    std::string cls = string_at(tokenizer, kTokenizer, "cls_token");
    std::string sep = string_at(tokenizer, kTokenizer, "sep_token");
    return std::make_unique<TransformerEncoder>(std::move(package), std::move(vocabulary), std::move(scores),
                                                std::move(charsmap), unknown_id, kAnyThreads, max_length,
                                                std::move(cls), std::move(sep));
  }
  if (type == "WordPiece") {
    const bool lowercase = bool_at(tokenizer, kTokenizer, "lowercase");
    const bool strip_accents = bool_at(tokenizer, kTokenizer, "strip_accents");
    std::string unknown = string_at(tokenizer, kTokenizer, "unknown_token");
    std::string cls = string_at(tokenizer, kTokenizer, "cls_token");
    std::string sep = string_at(tokenizer, kTokenizer, "sep_token");
    std::string prefix = string_at(tokenizer, kTokenizer, "continuing_subword_prefix");
    const std::uint64_t max_characters = positive_at(tokenizer, kTokenizer, "max_input_characters_per_word");
    return std::make_unique<TransformerEncoder>(std::move(package), std::move(vocabulary), lowercase, strip_accents,
                                                kAnyThreads, max_length, std::move(unknown), std::move(cls),
                                                std::move(sep), std::move(prefix), max_characters);
  }
  throw TransformerError("unsupported native transformer tokenizer type: " + type);
}

}  // namespace

std::vector<std::uint8_t> decode_charsmap_base64(std::string_view text) {
  if (text.size() % 4 != 0) throw TransformerError("invalid base64 tokenizer charsmap length");
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() / 4 * 3);
  for (std::size_t group = 0; group < text.size(); group += 4) {
    const bool last = group + 4 == text.size();
    std::size_t padding = 0;
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      const char c = text[group + i];
      // "=" may only end the last group, and only in its last one or two places.
      if (c == '=' && last && i >= 2 && (i == 3 || text[group + 3] == '=')) {
        ++padding;
        bits <<= 6;
        continue;
      }
      const int value = base64_value(c);
      if (value < 0 || padding > 0) throw TransformerError("invalid base64 tokenizer charsmap");
      bits = (bits << 6) | static_cast<std::uint32_t>(value);
    }
    for (std::size_t i = 0; i < 3 - padding; ++i) bytes.push_back(static_cast<std::uint8_t>(bits >> (16 - 8 * i)));
  }
  return bytes;
}

NativeTransformer::NativeTransformer(std::shared_ptr<const ModelBundle> bundle, const JsonValue& block)
    : bundle_(std::move(bundle)) {
  if (string_at(block, kBlock, "backend") != "aotinductor") {
    throw TransformerError("unsupported transformer runtime backend");
  }
  const std::string& artifact_name = string_at(block, kBlock, "artifact");
  const std::filesystem::path artifact = bundle_local_artifact(artifact_name);
  // The package is native code that runs: it must be a file the manifest sizes and digests,
  // or a verified bundle could still run code that was never checked.
  if (!bundle_->lists_artifact(artifact)) {
    throw TransformerError("transformer artifact is not a listed bundle artifact: '" + artifact_name + "'");
  }
  hidden_size_ = static_cast<std::int64_t>(positive_at(block, kBlock, "hidden_size"));
  const std::uint64_t max_length = positive_at(block, kBlock, "model_max_length");
  encoder_ = load_encoder(bundle_->path() / artifact, member(block, kBlock, "tokenizer"), max_length);
}

NativeTransformer::~NativeTransformer() = default;

at::Tensor NativeTransformer::checked(at::Tensor encoded) const {
  if (encoded.size(0) == 0) return at::empty({0, hidden_size_}, at::TensorOptions().dtype(at::kFloat));
  if (encoded.size(1) != hidden_size_) {
    throw TransformerError("AOTInductor transformer output hidden size disagrees with assets");
  }
  return encoded;
}

at::Tensor NativeTransformer::encode(const std::vector<std::string>& words, bool keep_endpoints) const {
  return checked(encoder_->encode_words_tensor(words, keep_endpoints));
}

WordPieceEncoding NativeTransformer::tokenize(const std::vector<std::string>& words, bool add_special_tokens) const {
  return encoder_->tokenize(words, add_special_tokens);
}

at::Tensor NativeTransformer::encode_ids(const std::vector<std::int64_t>& input_ids,
                                         const std::vector<std::int64_t>& attention_mask) const {
  if (input_ids.empty()) return at::empty({0, hidden_size_}, at::TensorOptions().dtype(at::kFloat));
  return checked(encoder_->encode_ids_tensor(input_ids, attention_mask));
}

}  // namespace velmora::detail
