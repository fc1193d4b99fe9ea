// quillox's outputs on the conformance suite, at every level and with the options that change how
// input is read, against the recorded table: a change of the reading side must not move a byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "common/baseline.h"
#include "common/test_data.h"
#include "pngopt/program.h"
#include "quillox_test_util.h"

namespace jx::quillox {
namespace {
namespace fs = std::filesystem;

class QuilloxBaseline : public test::TempDir {
protected:
    // Copies the valid suite images (PNG and BMP) into a fresh folder, runs, hashes every file.
    void RunOnSuite(const std::string& label, std::vector<std::string> args, std::map<std::string, std::string>& got) {
        fs::remove_all(dir_ / "run");
        fs::create_directories(dir_ / "run");
        for (const std::string& name : jx::test::PngSuiteNames(false)) {
            fs::copy_file(jx::test::PngSuiteDir() / (name + ".png"), dir_ / "run" / (name + ".png"));
            const fs::path bmp = jx::test::DataDir() / "pngsuite" / "bmp" / (name + ".bmp");
            if (fs::exists(bmp)) fs::copy_file(bmp, dir_ / "run" / (name + ".bmp"));
        }
        std::ostringstream out;
        std::istringstream in;
        ProgramContext context{out, in, (dir_ / "run").string()};
        ThreadPool pool(3);
        context.pool = &pool;
        args.push_back("*.png");
        args.push_back("*.bmp");
        got[label + "/exit"] = std::to_string(RunProgram(args, context));
        if (std::find(args.begin(), args.end(), "/quiet") == args.end()) {
            // Names in the report carry the folder, which differs from run to run.
            std::string text = out.str();
            const std::string folder = (dir_ / "run").string();
            for (size_t at; (at = text.find(folder)) != std::string::npos;) text.erase(at, folder.size());
            got[label + "/report"] = jx::test::Hex(jx::test::Fnv1a(text.data(), text.size()));
        }
        for (const auto& e : fs::directory_iterator(dir_ / "run")) {
            const auto bytes = jx::test::ReadBytes(e.path());
            got[label + "/" + e.path().filename().string()] = jx::test::Hex(jx::test::Fnv1a(bytes.data(), bytes.size()));
        }
    }
};

TEST_F(QuilloxBaseline, SuiteOutputsAreUnchanged) {
    std::map<std::string, std::string> got;
    for (int level = 0; level <= 4; ++level)
        RunOnSuite("o" + std::to_string(level), {"/quiet", "/y", "/o" + std::to_string(level)}, got);
    RunOnSuite("g1", {"/quiet", "/y", "/g1"}, got);
    RunOnSuite("g0na", {"/quiet", "/y", "/g0", "/na"}, got);
    RunOnSuite("jx", {"/quiet", "/y", "/jx"}, got);
    RunOnSuite("report", {"/y"}, got);
    RunOnSuite("inf", {"/inf"}, got);
    jx::test::CheckBaseline("quillox_suite.txt", got);
}

}  // namespace
}  // namespace jx::quillox
