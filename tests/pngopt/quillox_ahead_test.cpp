#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "common/test_data.h"
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

EncodeSettings Trial(uint8_t filterSet, int heuristic, int strategy = 0, int memLevel = 9) {
    EncodeSettings s;
    s.filterSet = filterSet;
    s.heuristic = heuristic;
    s.strategy = strategy;
    s.level = 9;
    s.memLevel = memLevel;
    return s;
}

// Idle jobs wait for every ordinary job queued, and a pool going away drops the ones not started.
TEST(QuilloxAhead, IdleJobsYieldToQueuedJobs) {
    std::mutex mutex;
    std::condition_variable cv;
    bool release = false;
    std::vector<char> ran;
    {
        ThreadPool pool(1);
        pool.Submit([&] {
            std::unique_lock lock(mutex);
            cv.wait(lock, [&] { return release; });
        });
        pool.SubmitIdle([&] { std::lock_guard lock(mutex); ran.push_back('i'); });
        pool.Submit([&] { std::lock_guard lock(mutex); ran.push_back('a'); });
        pool.Submit([&] { std::lock_guard lock(mutex); ran.push_back('b'); });
        {
            std::lock_guard lock(mutex);
            release = true;
        }
        cv.notify_all();
        // A job that waits for the idle one proves it ran after both ordinary ones.
        std::atomic<bool> idleDone{false};
        pool.SubmitIdle([&] { idleDone = true; });
        while (!idleDone) std::this_thread::yield();
    }
    EXPECT_EQ(std::string(ran.begin(), ran.end()), "abi");

    std::atomic<int> late{0};
    {
        ThreadPool pool(1);
        for (int i = 0; i < 5; ++i) pool.SubmitIdle([&] { ++late; });
    }
    EXPECT_LE(late.load(), 5);  // no hang, no crash; some may have run before the stop
}

// Trials run ahead, right or wrong, given up or not, change no outcome and no file.
TEST(QuilloxAhead, RunningAheadChangesNoOutcome) {
    ThreadPool pool(4);
    for (const char* name : {"basn2c08", "basi6a08", "tbrn2c08"}) {
        SCOPED_TRACE(name);
        WorkImage work = ReadSuite(name);
        const OutputImage image = BuildOutputImage(work, Opts({}));
        const std::vector<EngineTrial> trials = {{Trial(0x1F, 2), 0}, {Trial(0x01, 2, 2), 1}, {Trial(0x1F, 7, 1), 2},
                                                 {Trial(0x0C, 4), 3},  {Trial(0x1F, 2, 0, 8), 4}};
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
            ahead.push_back({Trial(0x02, 3, 1, 5), 1, true});
            ahead.push_back({Trial(0x1F, 8, 0, 6), 0, true});
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

// With spare cores the search runs trials ahead; without, it does not: the same result and text.
TEST(QuilloxAhead, SearchWithAndWithoutSpareCores) {
    ThreadPool pool(4);
    for (const char* name : {"basn6a08", "basi3p02", "f02n2c08"}) {
        SCOPED_TRACE(name);
        WorkImage work = ReadSuite(name);
        const OutputImage image = BuildOutputImage(work, Opts({}));
        // Several memory levels, so the level the trials ahead assumed may lose.
        const Options o = Opts({"/o3", "/zm1-9"});
        for (bool progress : {false, true}) {
            std::ostringstream spareText, busyText;
            TrialResult spare = RunTrialSearch(image, o, DefaultPngEncoder(), &pool, progress ? &spareText : nullptr, true);
            TrialResult busy = RunTrialSearch(image, o, DefaultPngEncoder(), &pool, progress ? &busyText : nullptr, false);
            EXPECT_EQ(spare.best.bytes, busy.best.bytes);
            EXPECT_EQ(spare.heuristic, busy.heuristic);
            EXPECT_EQ(spare.filterIndex, busy.filterIndex);
            EXPECT_EQ(spare.memLevel, busy.memLevel);
            EXPECT_EQ(spareText.str(), busyText.str());
        }
    }
}

// Layout, palette order and transparent fill measured side by side choose what one core chooses.
TEST(QuilloxAhead, OutputImageWithPoolEqualsWithout) {
    ThreadPool pool(4);
    for (const char* name : {"tbrn2c08", "basn6a08", "tbbn3p08", "basn3p04", "tp1n3p08", "bgan6a16"}) {
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

class QuilloxAheadFiles : public test::TempDir {};

// Files of very different sizes side by side (the largest starts first): the report and files
// of a run one after another.
TEST_F(QuilloxAheadFiles, LargestFirstKeepsTheReportOrder) {
    const std::vector<std::string> names = {"basn0g01", "f02n2c08", "basn3p02", "basn6a16", "s01n3p01", "z09n2c08"};
    auto run = [&](ThreadPool* pool, std::string& text) {
        for (const std::string& n : names)
            fs::copy_file(jx::test::PngSuiteDir() / (n + ".png"), dir_ / (n + ".png"), fs::copy_options::overwrite_existing);
        std::ostringstream out;
        std::istringstream in;
        ProgramContext context{out, in, dir_.string()};
        context.pool = pool;
        const int rc = RunProgram({"/o2", "/y", "/force", "*.png"}, context);
        text = out.str();
        std::map<std::string, std::vector<uint8_t>> files;
        for (const auto& e : fs::directory_iterator(dir_)) files[e.path().filename()] = jx::test::ReadBytes(e.path());
        return std::make_pair(rc, files);
    };
    ThreadPool pool(4);
    std::string sequentialText, parallelText;
    const auto sequential = run(nullptr, sequentialText);
    const auto parallel = run(&pool, parallelText);
    EXPECT_EQ(sequential.first, 0);
    EXPECT_EQ(parallel, sequential);
    EXPECT_EQ(parallelText, sequentialText);
}

}  // namespace
}  // namespace jx::quillox
