// What every decoder makes of the conformance suite (valid and damaged PNGs, the BMP copies),
// against the recorded table: pixels, alpha flag and source depth, or the refusal's message.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/baseline.h"
#include "common/test_data.h"
#include "fileio/errors.h"
#include "fileio/open_decoders.h"

namespace jx {
namespace {
namespace fs = std::filesystem;

std::string Outcome(TDecodedImage (*decode)(const std::string&), const fs::path& path) {
    try {
        const TDecodedImage d = decode(path.string());
        uint64_t h = test::Fnv1a(d.Pixels.Data(), size_t(d.Pixels.Count()) * sizeof(TPixelRec));
        const int32_t facts[] = {d.Pixels.Width(), d.Pixels.Height(), d.HasAlpha ? 1 : 0, d.SourceBits};
        return test::Hex(test::Fnv1a(facts, sizeof facts, h));
    } catch (const FileIoError& e) {
        std::string m = e.what();
        for (char& c : m)
            if (c == ' ') c = '_';
        return "error:" + m;
    }
}

TEST(OpenBaseline, SuiteDecodesAreUnchanged) {
    std::map<std::string, std::string> got;
    for (const auto& e : fs::directory_iterator(test::PngSuiteDir()))
        got["png/" + e.path().filename().string()] = Outcome(DecodePngFile, e.path());
    for (const auto& e : fs::directory_iterator(test::DataDir() / "pngsuite" / "bmp"))
        got["bmp/" + e.path().filename().string()] = Outcome(DecodeBmpFile, e.path());
    test::CheckBaseline("open_suite.txt", got);
}

}  // namespace
}  // namespace jx
