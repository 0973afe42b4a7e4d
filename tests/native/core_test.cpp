#include <gtest/gtest.h>

#include "movimo/core.h"

TEST(WrapPip, Placeholder) { EXPECT_EQ(movimo::wrap_pip(-1, 64), 63); }
