#include <gtest/gtest.h>

#include <cstring>

#include "platform/version.h"

TEST(Version, HasMajorMinorPatch) {
    const char* v = jx::VersionText();
    int dots = 0;
    for (const char* p = v; *p; ++p) dots += (*p == '.');
    EXPECT_EQ(dots, 2) << v;
}
