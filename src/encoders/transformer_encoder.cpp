// The transformer encoder: the package loader, one checked model run, and the word encoding
// over overlapping windows with each word taking its last subword's row. Every model run is a
// unit of work: the compiled model's kernels then run on one thread with serial operators, so
// their sums, and the results, are the same whatever the thread count and whichever thread
// calls.

#include <ATen/Parallel.h>
#include <c10/util/Exception.h>
#include <torch/csrc/inductor/aoti_package/model_package_loader.h>

#include <algorithm>
#include <system_error>
#include <thread>
#include <variant>

#include "models/parallel_units.hpp"
#include "velmora/transformer.hpp"

namespace velmora {
namespace {

// Rows a window shares with its predecessor when the model's maximum length allows it.
constexpr std::uint64_t kWindowOverlap = 20;
constexpr std::uint64_t kSmallestWindowStep = 5;

// The message of a failure inside the tensor library, without its backtrace.
std::string failure_text(const std::exception& error) {
  if (const auto* tensor_error = dynamic_cast<const c10::Error*>(&error)) return tensor_error->what_without_backtrace();
  // Kernel failures cross the compiled model's C boundary as plain runtime errors that still
  // carry the backtrace.
  std::string text = error.what();
  if (const auto backtrace = text.find("\nException raised from"); backtrace != std::string::npos) text.resize(backtrace);
  return text;
}

at::Tensor int64_view(const std::vector<std::int64_t>& values) {
  // The model only reads its inputs, so the caller's vector is viewed, not copied.
  return at::from_blob(const_cast<std::int64_t*>(values.data()), {1, static_cast<std::int64_t>(values.size())},
                       at::TensorOptions().dtype(at::kLong));
}

std::vector<std::vector<float>> tensor_rows(const at::Tensor& tensor) {
  std::vector<std::vector<float>> rows;
  if (tensor.size(0) == 0) return rows;
  const auto width = static_cast<std::size_t>(tensor.size(1));
  rows.reserve(static_cast<std::size_t>(tensor.size(0)));
  const float* data = tensor.data_ptr<float>();
  for (std::int64_t row = 0; row < tensor.size(0); ++row, data += width) rows.emplace_back(data, data + width);
  return rows;
}

}  // namespace

struct TransformerEncoder::Impl {
  using Tokenizer = std::variant<WordPieceTokenizer, ByteBPETokenizer, XLMRobertaTokenizer>;

  Impl(std::filesystem::path path, Tokenizer held_tokenizer, std::uint64_t intra_op_threads, std::uint64_t max_length)
      : model_path(std::move(path)), tokenizer(std::move(held_tokenizer)), model_max_length(max_length) {
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(model_path, ignored) && !std::filesystem::is_directory(model_path, ignored)) {
      throw TransformerError("AOTInductor transformer model does not exist: " + model_path.string());
    }
    if (model_max_length < 5) throw TransformerError("transformer model_max_length must be at least 5");
    if (intra_op_threads != 0 && intra_op_threads != static_cast<std::uint64_t>(at::get_num_threads())) {
      throw TransformerError(
          "intra_op_threads cannot change the process-wide ATen thread pool during TransformerEncoder construction; "
          "call torch.set_num_threads() before constructing Velmora models");
    }
    // As many model instances as runs can overlap (the windows of a call run side by side, and
    // so do calls from several threads); they share the weights, each holds its activations.
    const std::size_t runners = std::max(1U, std::thread::hardware_concurrency());
    try {
      loader = std::make_unique<torch::inductor::AOTIModelPackageLoader>(model_path.string(), "model", false, runners,
                                                                         -1);
    } catch (const std::exception& error) {
      throw TransformerError("could not load AOTInductor transformer '" + model_path.string() + "': " +
                             failure_text(error));
    }
  }

  WordPieceEncoding tokenize(const std::vector<std::string>& words, bool add_special_tokens) const {
    return std::visit([&](const auto& held) { return held.encode(words, add_special_tokens); }, tokenizer);
  }

  // One model run: [n, hidden] float32.
  at::Tensor run(const std::vector<std::int64_t>& input_ids, const std::vector<std::int64_t>& attention_mask) const {
    const std::size_t n = input_ids.size();
    if (!attention_mask.empty() && attention_mask.size() != n) {
      throw TransformerError("transformer attention mask length does not match input ids");
    }
    // The compiled model does not check the length it was exported for; a longer input would
    // read past its position tables.
    if (n > model_max_length) throw TransformerError("transformer input is longer than model_max_length");
    const std::vector<std::int64_t> all_ones = attention_mask.empty() ? std::vector<std::int64_t>(n, 1)
                                                                      : std::vector<std::int64_t>{};
    std::vector<at::Tensor> outputs;
    try {
      const std::vector<at::Tensor> inputs = {int64_view(input_ids),
                                              int64_view(attention_mask.empty() ? all_ones : attention_mask)};
      outputs = loader->run(inputs);
    } catch (const std::exception& error) {
      throw TransformerError("AOTInductor transformer inference failed: " + failure_text(error));
    }
    if (outputs.size() != 1) throw TransformerError("AOTInductor transformer must return exactly one tensor");
    const at::Tensor& output = outputs.front();
    if (output.scalar_type() != at::kFloat) throw TransformerError("AOTInductor transformer output must be float32");
    if (output.dim() != 3 || output.size(0) != 1 || output.size(1) != static_cast<std::int64_t>(n) ||
        output.size(2) <= 0) {
      throw TransformerError("AOTInductor transformer output must have shape [1, subwords, hidden]");
    }
    return output.select(0, 0).contiguous();
  }

  // The windows [start, end) of a sequence of `total` ids: one run when the model takes them
  // all, otherwise windows of model_max_length that advance by `step`.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> windows_of(std::uint64_t total) const {
    const std::uint64_t length = model_max_length;
    if (total <= length) return {{0, total}};
    const std::uint64_t step = std::max(length > kWindowOverlap ? length - kWindowOverlap : 0, length / 2);
    if (step < kSmallestWindowStep) {
      throw TransformerError("transformer model_max_length is too small for overlapping slices");
    }
    std::vector<std::pair<std::uint64_t, std::uint64_t>> windows;
    for (std::uint64_t start = 0;; start += step) {
      const std::uint64_t end = std::min(start + length, total);
      windows.emplace_back(start, end);
      if (end == total) return windows;
    }
  }

  // [N, hidden] from the runs of every window: each later window keeps only the rows after its
  // overlap with the previous one.
  at::Tensor joined(const std::vector<at::Tensor>& outputs, std::uint64_t total) const {
    if (outputs.size() == 1) return outputs.front();
    const auto dropped = static_cast<std::int64_t>(model_max_length - windows_of(total)[1].first);
    at::Tensor result = at::empty({static_cast<std::int64_t>(total), outputs.front().size(1)}, outputs.front().options());
    std::int64_t written = 0;
    for (std::size_t w = 0; w < outputs.size(); ++w) {
      at::Tensor kept = outputs[w];
      if (w > 0) {
        if (kept.size(1) != result.size(1)) throw TransformerError("AOTInductor transformer hidden size changed across slices");
        if (kept.size(0) < dropped) throw TransformerError("AOTInductor transformer overlap exceeds final slice");
        kept = kept.slice(0, dropped);
      }
      const bool overflows = written + kept.size(0) > result.size(0);
      if (!overflows) result.slice(0, written, written + kept.size(0)).copy_(kept);
      written += kept.size(0);
      if (overflows) break;
    }
    if (written != result.size(0)) {
      throw TransformerError("AOTInductor transformer slices did not reconstruct the subword sequence");
    }
    return result;
  }

  at::Tensor encode_tensor(const std::vector<std::string>& words, bool keep_endpoints) const {
    const WordPieceEncoding encoding = tokenize(words, true);
    const std::vector<std::int64_t>& ids = encoding.input_ids;
    if (ids.empty()) return at::empty({0, 0}, at::TensorOptions().dtype(at::kFloat));
    // Each window runs as one unit of work; the windows are fixed by the ids alone.
    const std::vector<std::pair<std::uint64_t, std::uint64_t>> windows = windows_of(ids.size());
    std::vector<at::Tensor> outputs(windows.size());
    detail::for_each_unit(windows.size(), [&](std::size_t w) {
      const auto [start, end] = windows[w];
      outputs[w] = run(std::vector<std::int64_t>(ids.begin() + static_cast<std::ptrdiff_t>(start),
                                                 ids.begin() + static_cast<std::ptrdiff_t>(end)),
                       {});
    });

    const auto word_count = static_cast<std::int64_t>(words.size());
    std::vector<std::int64_t> word_rows(words.size(), -1);
    for (std::size_t i = 0; i < encoding.word_ids.size(); ++i) {
      const std::int64_t word = encoding.word_ids[i];
      // A later subword of the same word replaces the earlier one: each word takes its last.
      if (word >= 0 && word < word_count) word_rows[static_cast<std::size_t>(word)] = static_cast<std::int64_t>(i);
    }
    at::Tensor selected;
    detail::for_each_unit(1, [&](std::size_t) {
      const at::Tensor states = joined(outputs, ids.size());
      if (const auto missing = std::find(word_rows.begin(), word_rows.end(), -1); missing != word_rows.end()) {
        throw TransformerError("transformer tokenizer produced no subword for word " +
                               std::to_string(missing - word_rows.begin()));
      }
      std::vector<std::int64_t> rows;
      rows.reserve(word_rows.size() + 2);
      if (keep_endpoints) rows.push_back(0);
      rows.insert(rows.end(), word_rows.begin(), word_rows.end());
      if (keep_endpoints) rows.push_back(static_cast<std::int64_t>(ids.size()) - 1);
      if (rows.empty()) {
        selected = at::empty({0, states.size(1)}, states.options());
        return;
      }
      const at::Tensor index = at::from_blob(rows.data(), {static_cast<std::int64_t>(rows.size())},
                                             at::TensorOptions().dtype(at::kLong));
      selected = states.index_select(0, index).contiguous();
    });
    return selected;
  }

  std::filesystem::path model_path;
  Tokenizer tokenizer;
  std::uint64_t model_max_length;
  std::unique_ptr<torch::inductor::AOTIModelPackageLoader> loader;
};

TransformerEncoder::TransformerEncoder(std::filesystem::path model_path, std::vector<std::string> vocabulary,
                                       bool lowercase, bool strip_accents, std::uint64_t intra_op_threads,
                                       std::uint64_t model_max_length, std::string unknown_token, std::string cls_token,
                                       std::string sep_token, std::string continuing_subword_prefix,
                                       std::uint64_t max_input_characters_per_word)
    : impl_(std::make_unique<Impl>(
          std::move(model_path),
          Impl::Tokenizer(std::in_place_type<WordPieceTokenizer>, std::move(vocabulary), lowercase, strip_accents,
                          std::move(unknown_token), std::move(cls_token), std::move(sep_token),
                          std::move(continuing_subword_prefix), max_input_characters_per_word),
          intra_op_threads, model_max_length)) {}

TransformerEncoder::TransformerEncoder(std::filesystem::path model_path, std::vector<std::string> vocabulary,
                                       std::vector<std::pair<std::string, std::string>> merges, bool add_prefix_space,
                                       std::uint64_t intra_op_threads, std::uint64_t model_max_length,
                                       std::string unknown_token, std::string cls_token, std::string sep_token)
    : impl_(std::make_unique<Impl>(
          std::move(model_path),
          Impl::Tokenizer(std::in_place_type<ByteBPETokenizer>, std::move(vocabulary), std::move(merges),
                          std::move(unknown_token), std::move(cls_token), std::move(sep_token), add_prefix_space),
          intra_op_threads, model_max_length)) {}

TransformerEncoder::TransformerEncoder(std::filesystem::path model_path, std::vector<std::string> vocabulary,
                                       std::vector<float> scores, std::vector<std::uint8_t> precompiled_charsmap,
                                       std::int64_t unknown_id, std::uint64_t intra_op_threads,
                                       std::uint64_t model_max_length, std::string cls_token, std::string sep_token)
    : impl_(std::make_unique<Impl>(
          std::move(model_path),
          Impl::Tokenizer(std::in_place_type<XLMRobertaTokenizer>, std::move(vocabulary), std::move(scores),
                          std::move(precompiled_charsmap), unknown_id, std::move(cls_token), std::move(sep_token)),
          intra_op_threads, model_max_length)) {}

TransformerEncoder::~TransformerEncoder() = default;
TransformerEncoder::TransformerEncoder(TransformerEncoder&&) noexcept = default;
TransformerEncoder& TransformerEncoder::operator=(TransformerEncoder&&) noexcept = default;

std::vector<std::vector<float>> TransformerEncoder::encode(const std::vector<std::string>& words,
                                                           bool keep_endpoints) const {
  return tensor_rows(impl_->encode_tensor(words, keep_endpoints));
}

at::Tensor TransformerEncoder::encode_words_tensor(const std::vector<std::string>& words, bool keep_endpoints) const {
  return impl_->encode_tensor(words, keep_endpoints);
}

WordPieceEncoding TransformerEncoder::tokenize(const std::vector<std::string>& words, bool add_special_tokens) const {
  return impl_->tokenize(words, add_special_tokens);
}

std::vector<std::vector<float>> TransformerEncoder::encode_ids(const std::vector<std::int64_t>& input_ids,
                                                               const std::vector<std::int64_t>& attention_mask) const {
  return tensor_rows(encode_ids_tensor(input_ids, attention_mask));
}

at::Tensor TransformerEncoder::encode_ids_tensor(const std::vector<std::int64_t>& input_ids,
                                                 const std::vector<std::int64_t>& attention_mask) const {
  if (input_ids.empty()) return at::empty({0, 0}, at::TensorOptions().dtype(at::kFloat));
  at::Tensor states;
  detail::for_each_unit(1, [&](std::size_t) { states = impl_->run(input_ids, attention_mask); });
  return states;
}

const std::filesystem::path& TransformerEncoder::model_path() const { return impl_->model_path; }

std::string TransformerEncoder::runtime_version() { return "2.13.0"; }

}  // namespace velmora
