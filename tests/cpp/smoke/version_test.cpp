#include <gtest/gtest.h>

#include "velmora/version.hpp"

TEST(NativeVersion, MatchesThePackageVersion) { EXPECT_EQ(velmora::native_version(), "0.1.0"); }
