#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "common/test_data.h"
#include "pngopt/chunks.h"
#include "quillox_test_util.h"

namespace jx::quillox {
namespace {
namespace fs = std::filesystem;

class QuilloxReport : public test::TempDir {
protected:
    std::string Suite(const std::string& name) {
        fs::copy_file(jx::test::PngSuiteDir() / (name + ".png"), dir_ / (name + ".png"));
        return name + ".png";
    }
    std::string Output() const { return out_.str(); }
};

TEST_F(QuilloxReport, DeltaFilterAndOutputFormat) {
    const std::pair<const char*, const char*> cases[] = {
        {"f00n0g08", "None"}, {"f01n0g08", "Sub"}, {"f04n0g08", "Paeth"}, {"f99n0g04", "Mixed"}};
    for (const auto& [name, filter] : cases) {
        SCOPED_TRACE(name);
        Run({Suite(name)});
        EXPECT_NE(Output().find(std::string("Delta filter: ") + filter + "\n"), std::string::npos) << Output();
        EXPECT_NE(Output().find("\nOutput format: "), std::string::npos);
    }
    Run({Suite("basi0g01")});  // interlaced as the input
    EXPECT_NE(Output().find("\nOutput format: 1 bits/sample | Interlaced | Grayscale\n\r"), std::string::npos) << Output();
    Run({"/i0", "basi0g01.png"});
    EXPECT_NE(Output().find("\nOutput format: 1 bits/sample | Grayscale\n\r"), std::string::npos) << Output();
}

TEST_F(QuilloxReport, InfoListsColoursAndRowFilters) {
    Run({"/inf", Suite("f99n0g04")});
    const std::string text = Output();
    EXPECT_NE(text.find(" | 15 color(s)\n"), std::string::npos) << text;
    const size_t at = text.find("Filter per scanline:\n");
    ASSERT_NE(at, std::string::npos);
    const std::string rows = text.substr(at + 21, text.find('\n', at + 21) - at - 21);
    EXPECT_EQ(rows.size(), 32u);
    EXPECT_EQ(rows.find_first_not_of("01234"), std::string::npos);
    EXPECT_EQ(text.find("try..."), std::string::npos);
}

TEST_F(QuilloxReport, QuietWritesNothingButTheLog) {
    const std::string log = (dir_ / "run.log").string();
    EXPECT_EQ(Run({"/quiet", "/log", log, "/f0", Suite("basn0g08"), Suite("basn2c08")}), 0);
    EXPECT_EQ(Output(), "");
    std::ifstream in(log, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t first = text.find('\n');
    ASSERT_NE(first, std::string::npos);
    const std::string record = text.substr(first + 1, text.find('\n', first + 1) - first);
    EXPECT_EQ(record.rfind((dir_ / "basn0g08.png").string() + "\tclr:256\tc:0/", 0), 0u) << record;
    EXPECT_NE(record.find("\tb:8/8\tzc:9\tzm:"), std::string::npos) << record;
    EXPECT_NE(record.find("\tfs:-\tf:0\tIDAT="), std::string::npos) << record;
    EXPECT_NE(text.find("basn2c08.png\tclr:tc\tc:2/2\t"), std::string::npos) << text;
    EXPECT_NE(text.find("\n\r"), std::string::npos);
}

}  // namespace
}  // namespace jx::quillox
