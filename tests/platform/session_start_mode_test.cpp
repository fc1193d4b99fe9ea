#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/session.h"
#include "platform/start_mode.h"

namespace {

TEST(StartMode, BatchWordInAnyCaseOrSeveralArgumentsOrAFolder) {
    using jx::IsBatchMode;
    EXPECT_FALSE(IsBatchMode({}));
    for (const char* w : {"batch", "BATCH", "-Batch", "/batch", "--BATCH"}) EXPECT_TRUE(IsBatchMode({w})) << w;
    EXPECT_FALSE(IsBatchMode({"batches"}));
    EXPECT_FALSE(IsBatchMode({"-b"}));
    EXPECT_TRUE(IsBatchMode({"a.png", "b.png"}));
    EXPECT_FALSE(IsBatchMode({"/no/such/file.png"}));
    EXPECT_FALSE(IsBatchMode({""}));

    const std::string dir = jx::TempFolder();
    EXPECT_TRUE(IsBatchMode({dir}));
    const std::string file = dir + "/jx_start_mode_test.png";
    std::ofstream(file) << "x";
    EXPECT_FALSE(IsBatchMode({file}));
    std::filesystem::remove(file);
}

}  // namespace
