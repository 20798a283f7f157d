#include <gtest/gtest.h>

#include "framework/core/Classes.h"

namespace {

TEST(Placeholder2, Builds) { EXPECT_EQ(TStringList().Count(), 0); }

}  // namespace
