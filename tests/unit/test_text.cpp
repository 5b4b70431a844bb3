#include <gtest/gtest.h>

#include "net/text.h"

using namespace nimbo;

TEST(UrlEncode, EncodesEveryByte) { EXPECT_EQ(urlEncode("abc"), "%61%62%63"); }
