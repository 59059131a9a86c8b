// The AOTInductor toolchain end to end: a package compiled on this machine by the
// aoti_compile_package fixture (tests/support/aoti_packages.py) loads through libtorch's package
// loader and reproduces PyTorch's output at every length, in both autograd modes and from
// concurrent callers, with the inputs passed as views over plain vectors like the encoder does.
#include <gtest/gtest.h>

#include <ATen/ATen.h>
#include <c10/core/InferenceMode.h>
#include <c10/util/Exception.h>
#include <torch/csrc/inductor/aoti_package/model_package_loader.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/raw_tensor.hpp"

namespace {

using torch::inductor::AOTIModelPackageLoader;
using velmora::testing::read_raw_tensor;

const std::filesystem::path kPackageDir = VELMORA_AOTI_PACKAGE_DIR;
constexpr std::int64_t kHidden = 16;

// Reference cases written next to the package, as listed in SMOKE_CASES of aoti_packages.py.
const std::vector<std::string> kCases = {"one_subword", "seven_subwords",
                                         "thirteen_subwords_three_masked", "sixty_four_subwords"};

struct ReferenceCase {
  std::string name;
  std::vector<std::int64_t> input_ids;
  std::vector<std::int64_t> attention_mask;
  at::Tensor output;
};

std::vector<std::int64_t> to_vector(const at::Tensor& tensor) {
  const auto* data = tensor.data_ptr<std::int64_t>();
  return {data, data + tensor.numel()};
}

ReferenceCase read_case(const std::string& name) {
  const auto base = kPackageDir / "smoke_encoder" / name;
  return {name, to_vector(read_raw_tensor(base.string() + ".input_ids.bin")),
          to_vector(read_raw_tensor(base.string() + ".attention_mask.bin")),
          read_raw_tensor(base.string() + ".output.bin")};
}

// Runs the package the way the encoder will: both inputs are int64 [1, n] views over the
// caller's vectors, no stream.
std::vector<at::Tensor> run(AOTIModelPackageLoader& loader, const std::vector<std::int64_t>& ids,
                            const std::vector<std::int64_t>& mask) {
  const auto n = static_cast<std::int64_t>(ids.size());
  const auto options = at::TensorOptions().dtype(at::kLong);
  // The model only reads its inputs, so viewing const vectors is safe.
  std::vector<at::Tensor> inputs = {
      at::from_blob(const_cast<std::int64_t*>(ids.data()), {1, n}, options),
      at::from_blob(const_cast<std::int64_t*>(mask.data()), {1, n}, options)};
  return loader.run(inputs);
}

void expect_matches_reference(const std::vector<at::Tensor>& outputs, const ReferenceCase& reference) {
  ASSERT_EQ(outputs.size(), 1U);
  const at::Tensor& output = outputs.front();
  EXPECT_EQ(output.scalar_type(), at::kFloat);
  ASSERT_EQ(output.sizes(), reference.output.sizes());
  EXPECT_TRUE(at::allclose(output, reference.output, /*rtol=*/1e-4, /*atol=*/1e-5))
      << "largest difference " << (output - reference.output).abs().max().item<float>();
}

class PackageLoader : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const auto package = kPackageDir / "smoke_encoder.pt2";
    ASSERT_TRUE(std::filesystem::is_regular_file(package))
        << package << " is missing; it is written by the ctest fixture aoti_compile_package "
        << "(run the tests through ctest, e.g. ctest -R PackageLoader)";
    // The arguments the encoder uses: model "model", not single-threaded, one runner, no device.
    loader_ = std::make_unique<AOTIModelPackageLoader>(package.string(), "model", false, 1, -1);
    for (const auto& name : kCases) {
      cases_.push_back(read_case(name));
    }
  }
  static void TearDownTestSuite() {
    loader_.reset();
    cases_.clear();
  }
  void SetUp() override {
    if (!loader_) {
      GTEST_FAIL() << "the smoke package did not load";
    }
  }

  static inline std::unique_ptr<AOTIModelPackageLoader> loader_;
  static inline std::vector<ReferenceCase> cases_;
};

TEST_F(PackageLoader, OneLoadedPackageRunsEveryLengthLikePyTorchInBothAutogradModes) {
  for (const bool inference_mode : {false, true}) {
    c10::InferenceMode guard(inference_mode);
    for (const auto& reference : cases_) {
      SCOPED_TRACE(reference.name + (inference_mode ? " in inference mode" : " with autograd"));
      expect_matches_reference(run(*loader_, reference.input_ids, reference.attention_mask), reference);
    }
  }
}

TEST_F(PackageLoader, AttentionMaskReachesTheCompiledModel) {
  const auto& masked = cases_.at(2);
  ASSERT_EQ(masked.name, "thirteen_subwords_three_masked");
  const std::vector<std::int64_t> all_ones(masked.input_ids.size(), 1);
  const auto unmasked = run(*loader_, masked.input_ids, all_ones);
  ASSERT_EQ(unmasked.size(), 1U);
  ASSERT_EQ(unmasked.front().sizes(), (at::IntArrayRef{1, 13, kHidden}));
  EXPECT_FALSE(at::allclose(unmasked.front(), masked.output, 1e-4, 1e-5));
}

TEST_F(PackageLoader, ConcurrentCallersOnOneLoaderEachGetTheirOwnResult) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 25;
  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        const auto& reference = cases_[static_cast<std::size_t>(t + round) % cases_.size()];
        const auto outputs = run(*loader_, reference.input_ids, reference.attention_mask);
        const bool same = outputs.size() == 1 && outputs.front().sizes() == reference.output.sizes() &&
                          at::allclose(outputs.front(), reference.output, 1e-4, 1e-5);
        mismatches[static_cast<std::size_t>(t)] += same ? 0 : 1;
      }
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(mismatches, std::vector<int>(kThreads, 0));
}

// Load failures are c10::Error, whose message the encoder reports without the backtrace. (An
// unknown model name fails the same way but leaves libtorch's empty extraction directory behind
// in /tmp, so it is not exercised here.)
TEST(PackageLoaderErrors, LoadFailuresAreTensorLibraryErrors) {
  const auto not_a_zip = std::filesystem::path(::testing::TempDir()) / "not_a_package.pt2";
  std::ofstream(not_a_zip) << "not a zip archive";
  struct Case {
    std::string label;
    std::filesystem::path package;
    std::string model_name;
    std::string message_start;
  };
  const std::vector<Case> cases = {
      {"missing file", kPackageDir / "no_such_package.pt2", "model", "Failed to initialize zip archive"},
      {"not a zip archive", not_a_zip, "model", "Failed to initialize zip archive"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    try {
      AOTIModelPackageLoader loader(c.package.string(), c.model_name, false, 1, -1);
      ADD_FAILURE() << "loaded";
    } catch (const c10::Error& error) {
      EXPECT_EQ(std::string(error.what_without_backtrace()).rfind(c.message_start, 0), 0U)
          << error.what_without_backtrace();
    }
  }
  std::filesystem::remove(not_a_zip);
}

// A failure inside a kernel crosses the compiled model's C boundary and comes back as a plain
// std::runtime_error whose what() carries the tensor library's backtrace. (A wrong input count
// fails the same way but leaks the input handles inside libtorch, so it is not exercised here.)
TEST_F(PackageLoader, KernelFailuresArePlainRuntimeErrors) {
  const std::vector<std::int64_t> out_of_vocabulary = {1, 64, 3};
  const std::vector<std::int64_t> mask(3, 1);
  try {
    run(*loader_, out_of_vocabulary, mask);
    ADD_FAILURE() << "ran";
  } catch (const c10::Error& error) {
    ADD_FAILURE() << "unexpected c10::Error: " << error.what_without_backtrace();
  } catch (const std::runtime_error& error) {
    const std::string message = error.what();
    EXPECT_EQ(message.rfind("index out of bounds", 0), 0U) << message;
    EXPECT_NE(message.find("\nException raised from"), std::string::npos) << message;
  }
  // A failed run leaves the loader usable.
  expect_matches_reference(run(*loader_, cases_.at(1).input_ids, cases_.at(1).attention_mask), cases_.at(1));
}

}  // namespace
