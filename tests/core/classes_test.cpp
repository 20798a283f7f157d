#include <gtest/gtest.h>

#include "framework/core/Classes.h"

namespace {

TEST(Placeholder, Builds) { EXPECT_EQ(TStringList().Count(), 0); }

}  // namespace
