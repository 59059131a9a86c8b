// The test processes share the machine: one intra-op thread keeps the small models fast.

#include <ATen/Parallel.h>
#include <gtest/gtest.h>

namespace {

class SingleIntraOpThread : public ::testing::Environment {
 public:
  void SetUp() override { at::set_num_threads(1); }
};

[[maybe_unused]] const ::testing::Environment* const kSingleIntraOpThread =
    ::testing::AddGlobalTestEnvironment(new SingleIntraOpThread);

}  // namespace
