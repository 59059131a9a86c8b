// The transformer encoder over the tiny compiled test encoder against the PyTorch reference:
// word vectors from the last subword, windows over long inputs at the length boundaries, id
// runs with masks; and its refusals (construction, mask length, over-long runs, kernel errors).

#include <gtest/gtest.h>

#include <ATen/ATen.h>
#include <ATen/Parallel.h>
#include <c10/core/InferenceMode.h>

#include <fstream>
#include <thread>

#include "support/raw_tensor.hpp"
#include "transformer_test_support.hpp"

namespace {

using namespace encoder_test;
using velmora::TransformerError;

constexpr std::int64_t kHidden = 16;

struct WordCase {
  std::string name;
  std::vector<std::string> words;
  std::uint64_t model_max_length;
  bool keep_endpoints;
};

std::vector<WordCase> word_cases() {
  std::vector<WordCase> cases;
  const velmora::detail::JsonValue json = velmora::detail::load_json(transformer_dir() / "cases.json");
  for (const auto& entry : json.as_array("")) {
    WordCase c{entry.at("name", "").as_string(""), {},
               static_cast<std::uint64_t>(entry.at("model_max_length", "").as_integer("")),
               entry.at("keep_endpoints", "").as_bool("")};
    for (const auto& word : entry.at("words", "").as_array("")) c.words.push_back(word.as_string(""));
    cases.push_back(std::move(c));
  }
  return cases;
}

at::Tensor reference(const std::string& name) {
  return velmora::testing::read_raw_tensor(transformer_dir() / (name + ".bin"));
}

template <class Call>
void expect_transformer_error(Call&& call, const std::string& message) {
  try {
    call();
    ADD_FAILURE() << "no error, expected: " << message;
  } catch (const TransformerError& error) {
    EXPECT_EQ(error.what(), message);
  }
}

class TransformerEncoderTest : public ::testing::Test {
 protected:
  void SetUp() override { require_data(); }
};

TEST_F(TransformerEncoderTest, WordVectorsMatchTheReferenceAcrossWindowBoundaries) {
  for (const auto& c : word_cases()) {
    SCOPED_TRACE(c.name);
    const auto encoder = tiny_encoder(c.model_max_length);
    const at::Tensor expected = reference(c.name);
    const at::Tensor encoded = encoder.encode_words_tensor(c.words, c.keep_endpoints);
    EXPECT_EQ(encoded.scalar_type(), at::kFloat);
    EXPECT_TRUE(encoded.is_contiguous());
    expect_close(encoded, expected, 1e-4, 1e-5);
    const auto rows = encoder.encode(c.words, c.keep_endpoints);
    EXPECT_EQ(static_cast<std::int64_t>(rows.size()), expected.size(0));
    if (!rows.empty()) expect_close(rows_tensor(rows, kHidden), expected, 1e-4, 1e-5);
  }
}

TEST_F(TransformerEncoderTest, RunsInTheCallersAutogradMode) {
  const auto encoder = tiny_encoder(10);
  const auto cases = word_cases();
  const auto& c = cases.at(6);
  ASSERT_EQ(c.name, "ten_long_windows");
  c10::InferenceMode guard;
  expect_close(encoder.encode_words_tensor(c.words, c.keep_endpoints), reference(c.name), 1e-4, 1e-5);
}

TEST_F(TransformerEncoderTest, ShortestWindowLengthNeedsASingleRun) {
  const auto encoder = tiny_encoder(9);
  EXPECT_EQ(encoder.encode({"a", "b", "c", "d", "e", "f", "g"}, false).size(), 7U);
  expect_transformer_error([&] { encoder.encode({"a", "b", "c", "d", "e", "f", "g", "h"}, false); },
                           "transformer model_max_length is too small for overlapping slices");
}

TEST_F(TransformerEncoderTest, IdRunsMatchTheReferenceWithAndWithoutMask) {
  const auto encoder = tiny_encoder(64);
  const velmora::detail::JsonValue json = velmora::detail::load_json(transformer_dir() / "id_cases.json");
  for (const auto& entry : json.as_array("")) {
    const std::string name = entry.at("name", "").as_string("");
    SCOPED_TRACE(name);
    std::vector<std::int64_t> ids;
    std::vector<std::int64_t> mask;
    for (const auto& id : entry.at("ids", "").as_array("")) ids.push_back(id.as_integer(""));
    for (const auto& value : entry.at("mask", "").as_array("")) mask.push_back(value.as_integer(""));
    expect_close(encoder.encode_ids_tensor(ids, mask), reference(name), 1e-4, 1e-5);
    expect_close(rows_tensor(encoder.encode_ids(ids, mask), kHidden), reference(name), 1e-4, 1e-5);
  }
  EXPECT_TRUE(encoder.encode_ids({}, {}).empty());
  EXPECT_EQ(encoder.encode_ids_tensor({}, {}).sizes(), (at::IntArrayRef{0, 0}));
}

TEST_F(TransformerEncoderTest, RunsItCannotDoSafelyAreRefused) {
  const auto encoder = tiny_encoder(12);
  expect_transformer_error([&] { encoder.encode_ids({2, 8, 3}, {1, 1}); },
                           "transformer attention mask length does not match input ids");
  // The compiled model cannot check its input length: a run past the declared maximum would
  // read outside the model's position table.
  expect_transformer_error([&] { encoder.encode_ids(std::vector<std::int64_t>(13, 4), {}); },
                           "transformer input is longer than model_max_length");
  EXPECT_EQ(encoder.encode_ids(std::vector<std::int64_t>(12, 4), {}).size(), 12U);
  try {
    encoder.encode_ids({2, 64, 3}, {});
    ADD_FAILURE() << "ran with an id outside the vocabulary";
  } catch (const TransformerError& error) {
    const std::string message = error.what();
    EXPECT_EQ(message.rfind("AOTInductor transformer inference failed: index out of bounds", 0), 0U) << message;
    EXPECT_EQ(message.find("Exception raised from"), std::string::npos) << message;
  }
  // A failed run leaves the encoder usable.
  EXPECT_EQ(encoder.encode({"the", "cat"}, false).size(), 2U);
}

TEST_F(TransformerEncoderTest, ConstructionChecksInOrder) {
  const auto missing = transformer_dir() / "no_such_package.pt2";
  expect_transformer_error([&] { tiny_encoder(64, missing); },
                           "AOTInductor transformer model does not exist: " + missing.string());
  expect_transformer_error([&] { tiny_encoder(4); }, "transformer model_max_length must be at least 5");
  const auto not_a_package = std::filesystem::path(::testing::TempDir()) / "velmora_not_a_package.pt2";
  std::ofstream(not_a_package) << "not a zip archive";
  const auto threads = static_cast<std::uint64_t>(at::get_num_threads());
  // A thread count other than the process's is refused before the package is read.
  expect_transformer_error([&] { tiny_encoder(64, not_a_package, threads + 1); },
                           "intra_op_threads cannot change the process-wide ATen thread pool during TransformerEncoder "
                           "construction; call torch.set_num_threads() before constructing Velmora models");
  try {
    tiny_encoder(64, not_a_package, threads);
    ADD_FAILURE() << "loaded a file that is not a package";
  } catch (const TransformerError& error) {
    const std::string message = error.what();
    const std::string start = "could not load AOTInductor transformer '" + not_a_package.string() + "': ";
    EXPECT_EQ(message.rfind(start + "Failed to initialize zip archive", 0), 0U) << message;
    EXPECT_EQ(message.find("Exception raised from"), std::string::npos) << message;
  }
  std::filesystem::remove(not_a_package);
  EXPECT_EQ(tiny_encoder(64, tiny_package(), threads).model_path(), tiny_package());
}

TEST_F(TransformerEncoderTest, MovedEncoderKeepsItsPackage) {
  auto first = tiny_encoder(64);
  velmora::TransformerEncoder second(std::move(first));
  auto third = tiny_encoder(10);
  third = std::move(second);
  EXPECT_EQ(third.model_path(), tiny_package());
  EXPECT_EQ(third.encode({"the"}, true).size(), 3U);
  EXPECT_EQ(velmora::TransformerEncoder::runtime_version(), "2.13.0");
}

TEST_F(TransformerEncoderTest, ConcurrentCallersGetTheirOwnResults) {
  const auto encoder = tiny_encoder(10);
  std::vector<std::vector<std::string>> sentences;
  std::vector<at::Tensor> expected;
  for (const auto& c : word_cases()) {
    sentences.push_back(c.words);
    expected.push_back(encoder.encode_words_tensor(c.words, false));
  }
  constexpr int kThreads = 4;
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (std::size_t round = 0; round < 2 * sentences.size(); ++round) {
        const std::size_t s = (static_cast<std::size_t>(t) + round) % sentences.size();
        const at::Tensor encoded = encoder.encode_words_tensor(sentences[s], false);
        const bool same = encoded.sizes() == expected[s].sizes() && at::allclose(encoded, expected[s], 1e-5, 1e-6);
        mismatches[static_cast<std::size_t>(t)] += same ? 0 : 1;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(kThreads, 0));
}

}  // namespace
