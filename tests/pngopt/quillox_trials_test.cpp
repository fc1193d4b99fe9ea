#include <gtest/gtest.h>

#include <mutex>
#include <sstream>

#include "common/test_data.h"
#include "pngopt/image.h"
#include "pngopt/trials.h"
#include "quillox_test_util.h"

namespace jx::quillox {
namespace {
using test::Opts;

// Records every encode; the size comes from a rule over the settings.
struct FakeEncoder {
    std::function<size_t(const EncodeSettings&)> size;
    std::function<uint32_t(const EncodeSettings&)> fingerprint = [](const EncodeSettings& s) { return s.filterSet; };
    std::mutex mutex;
    std::vector<EncodeSettings> calls;

    PngEncodeFn Fn() {
        return [this](const OutputImage&, const EncodeSettings& s) {
            EncodedPng png;
            png.fingerprint = fingerprint(s);
            if (!s.fingerprintOnly) {
                png.bytes.assign(size(s), uint8_t(s.filterSet));
                png.idatSize = static_cast<uint32_t>(png.bytes.size() / 2);
            }
            std::lock_guard lock(mutex);
            calls.push_back(s);
            return png;
        };
    }
};

OutputImage TinyImage() {
    OutputImage img;
    img.width = img.height = 1;
    img.colorType = kPngGrey;
    img.rowBytes = 1;
    img.rows = {0};
    return img;
}

TEST(QuilloxTrials, EqualSizesKeepTheEarlierTrial) {
    FakeEncoder enc;
    enc.size = [](const EncodeSettings&) { return size_t(500); };
    TrialResult r = RunTrialSearch(TinyImage(), Opts({"/o2"}), enc.Fn(), nullptr, nullptr);
    EXPECT_EQ(r.filterIndex, 5);
    EXPECT_EQ(r.strategy, 0);
    EXPECT_EQ(r.memLevel, 9);
    EXPECT_EQ(r.best.bytes.front(), kFilterSets[5]);
}

TEST(QuilloxTrials, HeuristicPassSkipsTheConfiguredOne) {
    for (int configured : {2, 12}) {
        FakeEncoder enc;
        enc.size = [](const EncodeSettings& s) { return size_t(900 - (s.filterSet == kFilterSets[5] ? 100 : 0)); };
        Options o = Opts({"/fe", "/fs:" + std::to_string(configured)});
        RunTrialSearch(TinyImage(), o, enc.Fn(), nullptr, nullptr);
        std::vector<int> tried;
        for (const EncodeSettings& s : enc.calls)
            if (s.heuristic != configured) tried.push_back(s.heuristic);
        if (configured == 2) EXPECT_EQ(tried, (std::vector<int>{0, 1, 3, 4, 5, 6, 7, 8, 9}));
        else EXPECT_EQ(tried, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    }
}

TEST(QuilloxTrials, FilterSetPassSkipsRepeatedFingerprints) {
    FakeEncoder enc;
    // Index 5 wins the grid; sets 6..29 get sizes that make index 20 best.
    enc.size = [](const EncodeSettings& s) {
        if (s.filterSet == kFilterSets[5]) return size_t(800);
        if (s.filterSet == kFilterSets[20]) return size_t(700);
        return size_t(900);
    };
    // Sets 7 and 9 choose rows like set 6; set 6 like nothing earlier.
    enc.fingerprint = [](const EncodeSettings& s) -> uint32_t {
        if (s.filterSet == kFilterSets[7] || s.filterSet == kFilterSets[9]) return kFilterSets[6];
        return s.filterSet;
    };
    std::ostringstream progress;
    TrialResult r = RunTrialSearch(TinyImage(), Opts({"/fe"}), enc.Fn(), nullptr, &progress);
    EXPECT_EQ(r.filterIndex, 20);
    EXPECT_EQ(r.fileSize, 700u);
    int full = 0, fingerprintOnly = 0;
    bool triedSeven = false;
    for (const EncodeSettings& s : enc.calls) {
        if (s.fingerprintOnly) ++fingerprintOnly;
        else ++full;
        if (!s.fingerprintOnly && s.filterSet == kFilterSets[7]) triedSeven = true;
    }
    EXPECT_EQ(fingerprintOnly, 25);
    EXPECT_FALSE(triedSeven);
    EXPECT_EQ(full, 25 + 9 + 22);  // grid and memory, heuristics, sets 6..29 but 7 and 9
    EXPECT_NE(progress.str().find("extra...\n"), std::string::npos);
    EXPECT_NE(progress.str().find("fs:2\tf:5e\tIDAT=350\tfile=700\n\r"), std::string::npos);
}

TEST(QuilloxTrials, SingleFilterWinnerSkipsFilterSetPass) {
    FakeEncoder enc;
    enc.size = [](const EncodeSettings& s) { return size_t(s.filterSet == kFilterSets[3] ? 100 : 200); };
    TrialResult r = RunTrialSearch(TinyImage(), Opts({"/o3"}), enc.Fn(), nullptr, nullptr);
    EXPECT_EQ(r.filterIndex, 3);
    for (const EncodeSettings& s : enc.calls) EXPECT_FALSE(s.fingerprintOnly);
}

TEST(QuilloxTrials, EncoderErrorsReachTheCaller) {
    ThreadPool pool(3);
    std::atomic<int> calls{0};
    PngEncodeFn failing = [&](const OutputImage&, const EncodeSettings& s) -> EncodedPng {
        ++calls;
        if (s.strategy == 2) throw PngError("disk on fire");
        EncodedPng png;
        png.bytes.resize(10);
        return png;
    };
    EXPECT_THROW(RunTrialSearch(TinyImage(), Opts({}), failing, &pool, nullptr), PngError);
}

}  // namespace
}  // namespace jx::quillox
