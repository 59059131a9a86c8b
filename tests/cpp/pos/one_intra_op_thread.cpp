// The tagger tests share a loaded machine with other test processes: the tensor library's
// intra-op pool runs one thread, so tiny kernels do not spin against each other.

#include <ATen/Parallel.h>
#include <gtest/gtest.h>

namespace {

class OneIntraOpThread : public ::testing::Environment {
 public:
  void SetUp() override { at::set_num_threads(1); }
};

[[maybe_unused]] const ::testing::Environment* const registered =
    ::testing::AddGlobalTestEnvironment(new OneIntraOpThread);

}  // namespace
