#include <gtest/gtest.h>
#include "lexer.h"
TEST(Smoke, Builds) { zeld::Lexer l; l.reset("12"); EXPECT_EQ(l.read_number(), 12u); }
