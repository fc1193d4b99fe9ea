// The trial engine and the search around it: whatever is shared between trials, run ahead,
// abandoned or run side by side, the file written is the plain encoder's, byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>

#include "common/test_data.h"
#include "pngopt/image.h"
#include "pngopt/output.h"
#include "pngopt/trial_engine.h"
#include "pngopt/trials.h"
#include "quillox_test_util.h"

namespace jx::quillox {
namespace {
namespace fs = std::filesystem;
using test::Opts;

WorkImage ReadSuite(const std::string& name) {
    return ReadInputFile((jx::test::PngSuiteDir() / (name + ".png")).string(), ReadSettings{});
}

// interlace < 0 keeps the choice made from the input.
OutputImage Suite(const std::string& name, int interlace = -1) {
    WorkImage image = ReadSuite(name);
    OutputImage out = BuildOutputImage(image, Opts({}));
    if (interlace >= 0) out.interlace = interlace;
    return out;
}

EncodeSettings Trial(uint8_t filterSet, int heuristic, int strategy = 0, int level = 9, int memLevel = 9) {
    EncodeSettings s;
    s.filterSet = filterSet;
    s.heuristic = heuristic;
    s.strategy = strategy;
    s.level = level;
    s.memLevel = memLevel;
    return s;
}

TEST(QuilloxEngine, WritesTheEncodersFile) {
    for (const char* name : {"basn2c08", "basn3p04", "basn4a16", "f02n0g08"}) {
        for (int interlace : {0, 1}) {
            for (const EncodeSettings& s : {Trial(0x1F, 2), Trial(0x1F, 7, 1, 8, 7), Trial(0x06, 4, 3), Trial(0x04, 0)}) {
                SCOPED_TRACE(std::string(name) + (interlace ? " interlaced" : "") + " h" + std::to_string(s.heuristic));
                OutputImage image = Suite(name, interlace);
                const EncodedPng expected = EncodePngJx(image, s);
                TrialEngine engine(image, nullptr, false);
                std::vector<EngineOutcome> r = engine.Run({{s, 0}}, {0});
                ASSERT_FALSE(r[0].lost);
                EXPECT_EQ(r[0].fileSize, expected.bytes.size());
                EXPECT_EQ(r[0].fingerprint, expected.fingerprint);
                EncodedPng file = engine.BestFile();
                EXPECT_EQ(file.bytes, expected.bytes);
                EXPECT_EQ(file.idatSize, expected.idatSize);
            }
        }
    }
}

// Row costs scored in bands of rows, on a pool or not, across pass starts: the encoder's rows.
TEST(QuilloxEngine, RowCostsInBandsChooseTheEncodersRows) {
    OutputImage image;
    image.width = 97;
    image.height = 700;
    image.colorType = kPngRgb;
    image.rowBytes = 3 * 97;
    uint32_t seed = 5;
    for (uint32_t y = 0; y < 700; ++y)
        for (uint32_t x = 0; x < 97; ++x)
            for (uint32_t c = 0; c < 3; ++c) {
                seed = seed * 1664525u + 1013904223u;
                image.rows.push_back(uint8_t(x * (c + 1) + y * (3 - c) + (y % 50 < 10 ? seed >> 29 : 0)));
            }
    ThreadPool pool(3);
    for (ThreadPool* p : {static_cast<ThreadPool*>(nullptr), &pool})
        for (bool interlace : {false, true})
            for (int heuristic : {2, 7, 9}) {
                SCOPED_TRACE(std::string(interlace ? "interlaced" : "") + " h" + std::to_string(heuristic));
                image.interlace = interlace;
                const EncodeSettings s = Trial(0x1F, heuristic, 0, 6, 8);
                const EncodedPng expected = EncodePngJx(image, s);
                TrialEngine engine(image, p, false);
                std::vector<EngineOutcome> r = engine.Run({{s, 0}}, {0});
                EXPECT_EQ(r[0].fingerprint, expected.fingerprint);
                EXPECT_EQ(engine.BestFile().bytes, expected.bytes);
            }
}

TEST(QuilloxEngine, AbandonsOnlyTrialsThatCannotWin) {
    const EncodeSettings good = Trial(0x1F, 2), poor = Trial(0x01, 2, 2);
    {
        // A smooth gradient, large enough that unfiltered Huffman-only loses well before its end.
        OutputImage image;
        image.width = image.height = 300;
        image.colorType = kPngRgb;
        image.rowBytes = 900;
        for (uint32_t y = 0; y < 300; ++y)
            for (uint32_t x = 0; x < 300; ++x)
                for (uint32_t c = 0; c < 3; ++c) image.rows.push_back(uint8_t(x * (c + 1) + y * (3 - c)));
        TrialEngine engine(image, nullptr, false);
        std::vector<EngineOutcome> r = engine.Run({{good, 0}, {poor, 1}, {poor, 2}}, {0, 1, 2});
        EXPECT_FALSE(r[0].lost);
        EXPECT_TRUE(r[1].lost);
        EXPECT_TRUE(r[2].lost);
        EXPECT_EQ(engine.BestFile().bytes, EncodePngJx(image, good).bytes);
    }
    const OutputImage image = Suite("basn2c08", 0);
    ASSERT_LT(EncodePngJx(image, good).bytes.size(), EncodePngJx(image, poor).bytes.size());
    {
        // The same trial twice: deflated once, and the earlier one of equal size wins the tie.
        TrialEngine engine(image, nullptr, false);
        std::vector<EngineOutcome> r = engine.Run({{good, 7}, {good, 3}}, {0, 1});
        EXPECT_FALSE(r[0].lost);
        EXPECT_FALSE(r[1].lost);
        EXPECT_EQ(r[0].fileSize, r[1].fileSize);
        EXPECT_EQ(engine.BestSeq(), 3);
    }
    {
        // A poorer trial run before a better one is measured in full.
        TrialEngine engine(image, nullptr, false);
        std::vector<EngineOutcome> r = engine.Run({{poor, 0}, {good, 1}, {poor, 2}}, {0, 1, 2});
        EXPECT_FALSE(r[0].lost);
        EXPECT_EQ(r[0].fileSize, EncodePngJx(image, poor).bytes.size());
        EXPECT_EQ(engine.BestSeq(), 1);
    }
    for (bool earlierOnly : {true, false}) {
        // Run out of order: with bounds only from earlier trials, a later best abandons nothing.
        TrialEngine engine(image, nullptr, earlierOnly);
        std::vector<EngineOutcome> r = engine.Run({{poor, 0}, {good, 1}}, {1, 0});
        if (earlierOnly) {
            EXPECT_FALSE(r[0].lost);
            EXPECT_EQ(r[0].fileSize, EncodePngJx(image, poor).bytes.size());
        }
        EXPECT_EQ(engine.BestSeq(), 1);
        EXPECT_EQ(engine.BestFile().bytes, EncodePngJx(image, good).bytes);
    }
}

// The measuring road gives the size of the file the encoder writes, and stops short only once
// that file is sure to reach the limit.
TEST(QuilloxEngine, MeasuredSizeIsTheEncodersAndStopsOnlyAtTheLimit) {
    for (const char* name : {"basn2c08", "basn3p04", "basn4a16", "f02n0g08", "s09n3p02"}) {
        for (int interlace : {0, 1}) {
            for (const EncodeSettings& s : {Trial(0x1F, 2, 0, 6, 8), Trial(0x01, 2, 0, 6, 8), Trial(0x1F, 7, 1, 8, 7),
                                            Trial(0x06, 4, 3), Trial(0x1F, 9, 2, 1, 1)}) {
                SCOPED_TRACE(std::string(name) + (interlace ? " interlaced" : "") + " h" + std::to_string(s.heuristic));
                const OutputImage image = Suite(name, interlace);
                const uint64_t size = EncodePngJx(image, s).bytes.size();
                EXPECT_EQ(MeasureEncodedSize(image, s, [] { return UINT64_MAX; }), size);
                EXPECT_EQ(MeasureEncodedSize(image, s, [&] { return size + 1; }), size);
            }
        }
    }
    // Noise over several IDAT chunks' worth of rows: a limit below the size stops it part way,
    // and one that falls while it runs is heeded.
    OutputImage noise;
    noise.width = noise.height = 1024;
    noise.colorType = kPngPalette;
    noise.rowBytes = 1024;
    for (int i = 0; i < 256; ++i) noise.palette.push_back({uint8_t(i), uint8_t(i), uint8_t(255 - i), 255});
    uint32_t seed = 1;
    for (uint32_t i = 0; i < 1024 * 1024; ++i) {
        seed = seed * 1664525u + 1013904223u;
        noise.rows.push_back(uint8_t(seed >> 24));
    }
    const EncodeSettings s = Trial(0x01, 2, 0, 1, 8);
    const uint64_t size = EncodePngJx(noise, s).bytes.size();
    EXPECT_EQ(MeasureEncodedSize(noise, s, [] { return UINT64_MAX; }), size);
    EXPECT_EQ(MeasureEncodedSize(noise, s, [&] { return size / 2; }), std::nullopt);
    int calls = 0;
    EXPECT_EQ(MeasureEncodedSize(noise, s, [&] { return ++calls < 3 ? UINT64_MAX : uint64_t(0); }), std::nullopt);
    EXPECT_EQ(calls, 3);
}

// Trials run ahead, right or wrong, given up or not, change no outcome and no file.
TEST(QuilloxEngine, RunningAheadChangesNoOutcome) {
    ThreadPool pool(4);
    for (const char* name : {"basn2c08", "basi6a08", "tbrn2c08"}) {
        SCOPED_TRACE(name);
        const OutputImage image = Suite(name);
        const std::vector<EngineTrial> trials = {{Trial(0x1F, 2), 0}, {Trial(0x01, 2, 2), 1}, {Trial(0x1F, 7, 1), 2},
                                                 {Trial(0x0C, 4), 3},  {Trial(0x1F, 2, 0, 9, 8), 4}};
        const std::vector<size_t> order = {0, 1, 2, 3, 4};
        TrialEngine plain(image, &pool, false);
        const std::vector<EngineOutcome> expected = plain.Run(trials, order);
        const EncodedPng expectedFile = plain.BestFile();

        for (int variant = 0; variant < 4; ++variant) {
            SCOPED_TRACE(variant);
            TrialEngine engine(image, &pool, false);
            // The same trials with wrong seqs, and trials never asked for.
            std::vector<EngineTrial> ahead;
            for (const EngineTrial& t : trials) ahead.push_back({t.settings, 10 - t.seq, true});
            ahead.push_back({Trial(0x02, 3, 1, 9, 5), 1, true});
            ahead.push_back({Trial(0x1F, 8, 0, 9, 6), 0, true});
            engine.RunAhead(ahead);
            if (variant == 1) engine.DropAhead();
            if (variant == 2) engine.RunAhead(ahead);  // twice over
            if (variant == 3) engine.DropAhead([](const EncodeSettings& s) { return s.heuristic == 2; });
            const std::vector<EngineOutcome> got = engine.Run(trials, order);
            for (size_t i = 0; i < trials.size(); ++i) {
                EXPECT_EQ(got[i].lost, expected[i].lost) << i;
                EXPECT_EQ(got[i].fileSize, expected[i].fileSize) << i;
                EXPECT_EQ(got[i].fingerprint, expected[i].fingerprint) << i;
            }
            EXPECT_EQ(engine.BestSeq(), plain.BestSeq());
            EXPECT_EQ(engine.BestFile().bytes, expectedFile.bytes);
        }
        {
            // Gone while work ahead is queued or running.
            TrialEngine engine(image, &pool, false);
            engine.RunAhead(trials);
        }
    }
}

// The search finds and prints the same through the plain encoder, and through the engine with
// spare cores (running ahead) or without.
TEST(QuilloxEngine, SearchMatchesThePlainEncoder) {
    ThreadPool pool(4);
    const PngEncodeFn plain = [](const OutputImage& image, const EncodeSettings& s) { return EncodePngJx(image, s); };
    for (const char* name : {"basn6a08", "basi3p02", "tbrn2c08", "f02n2c08"}) {
        SCOPED_TRACE(name);
        const OutputImage image = Suite(name);
        // Several memory levels, so the level the trials ahead assumed may lose.
        const Options o = Opts({"/o3", "/zc8-9", "/zm1-9"});
        std::ostringstream plainText;
        TrialResult a = RunTrialSearch(image, o, plain, nullptr, &plainText);
        for (bool spare : {true, false}) {
            std::ostringstream engineText;
            TrialResult b = RunTrialSearch(image, o, DefaultPngEncoder(), &pool, &engineText, spare);
            EXPECT_EQ(a.best.bytes, b.best.bytes) << spare;
            EXPECT_EQ(a.filterIndex, b.filterIndex);
            EXPECT_EQ(a.heuristic, b.heuristic);
            EXPECT_EQ(a.memLevel, b.memLevel);
            EXPECT_EQ(a.strategy, b.strategy);
            EXPECT_EQ(plainText.str(), engineText.str());
            EXPECT_EQ(RunTrialSearch(image, o, DefaultPngEncoder(), &pool, nullptr, spare).best.bytes, a.best.bytes);
        }
    }
}

// Layout, palette order and transparent fill measured side by side choose what one core chooses.
TEST(QuilloxEngine, OutputImageWithPoolEqualsWithout) {
    ThreadPool pool(4);
    // Grey at a low depth beside palettes, palettes of several depths beside true colour.
    for (const char* name : {"tbrn2c08", "tbbn3p08", "bgan6a16", "basn0g04", "basn3p04", "s09n3p02"}) {
        for (const char* level : {"/o2", "/o4"}) {
            SCOPED_TRACE(std::string(name) + " " + level);
            const Options o = Opts({level});
            WorkImage one = ReadSuite(name), many = ReadSuite(name);
            std::ostringstream oneText, manyText;
            const OutputImage a = BuildOutputImage(one, o, &oneText);
            const OutputImage b = BuildOutputImage(many, o, &manyText, &pool);
            EXPECT_EQ(a.colorType, b.colorType);
            EXPECT_EQ(a.bitDepth, b.bitDepth);
            EXPECT_EQ(a.rows, b.rows);
            ASSERT_EQ(a.palette.size(), b.palette.size());
            for (size_t i = 0; i < a.palette.size(); ++i) {
                EXPECT_EQ(a.palette[i].r, b.palette[i].r);
                EXPECT_EQ(a.palette[i].a, b.palette[i].a);
            }
            EXPECT_EQ(one.rgba, many.rgba);
            EXPECT_EQ(oneText.str(), manyText.str());
        }
    }
}

TEST(QuilloxEngine, ParallelForRunsEveryJobAndPassesErrors) {
    ThreadPool pool(3);
    std::vector<int> hits(50, 0);
    // Nested use from inside pool jobs must not stall.
    ParallelFor(&pool, 5, [&](size_t outer) {
        ParallelFor(&pool, 10, [&](size_t inner) { ++hits[outer * 10 + inner]; });
    });
    EXPECT_EQ(std::count(hits.begin(), hits.end(), 1), 50);
    EXPECT_THROW(ParallelFor(&pool, 8, [](size_t i) { if (i == 5) throw PngError("bad"); }), PngError);
}

class QuilloxFiles : public test::TempDir {};

// Files of very different sizes side by side (the largest starts first), one of them damaged: the
// report and the files of a run one after another.
TEST_F(QuilloxFiles, ParallelRunEqualsSequentialRun) {
    const std::vector<std::string> names = {"basn0g01", "basn3p02", "basn6a16", "s01n3p01", "tbbn3p08",
                                            "f02n2c08", "z09n2c08", "xcrn0g04"};
    auto run = [&](ThreadPool* pool, std::string& text) {
        for (const std::string& n : names)
            fs::copy_file(jx::test::PngSuiteDir() / (n + ".png"), dir_ / (n + ".png"), fs::copy_options::overwrite_existing);
        std::ostringstream out;
        std::istringstream in;
        ProgramContext context{out, in, dir_.string()};
        context.pool = pool;
        const int rc = RunProgram({"/o2", "/force", "*.png"}, context);
        text = out.str();
        std::map<std::string, std::vector<uint8_t>> files;
        for (const auto& e : fs::directory_iterator(dir_)) files[e.path().filename()] = jx::test::ReadBytes(e.path());
        return std::make_pair(rc, files);
    };
    ThreadPool pool(4);
    std::string sequentialText, parallelText;
    const auto sequential = run(nullptr, sequentialText);
    const auto parallel = run(&pool, parallelText);
    EXPECT_EQ(sequential.first, 1);  // the damaged file fails, the others are written
    EXPECT_EQ(parallel, sequential);
    EXPECT_EQ(parallelText, sequentialText);
}

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

TEST(QuilloxTrials, EncoderErrorsReachTheCaller) {
    ThreadPool pool(3);
    PngEncodeFn failing = [](const OutputImage&, const EncodeSettings& s) -> EncodedPng {
        if (s.strategy == 2) throw PngError("disk on fire");
        EncodedPng png;
        png.bytes.resize(10);
        return png;
    };
    EXPECT_THROW(RunTrialSearch(TinyImage(), Opts({}), failing, &pool, nullptr), PngError);
}

}  // namespace
}  // namespace jx::quillox
