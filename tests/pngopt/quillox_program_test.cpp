// Command-line runs over a temporary folder: where results go, what they carry, that inputs are
// never lost, and how failures are told.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <map>
#include <sstream>

#include "common/padded_rle_bitmap.h"
#include "common/test_data.h"
#include "pngopt/image.h"
#include "pngopt/output.h"
#include "pngenc/png_image.h"
#include "pngopt/program.h"
#include "quillox_test_util.h"

namespace jx::quillox {
namespace {
namespace fs = std::filesystem;
using jx::test::ReadBytes;

// A 32 x 32 image of 1,024 colours, written loosely (no filters, fast deflate) so that the
// optimiser always beats it.
std::vector<uint8_t> MakePng(uint8_t colorType, uint8_t alpha(uint32_t x, uint32_t y),
                             const std::vector<std::pair<std::string, std::vector<uint8_t>>>& chunks = {}) {
    PngImage png(32, 32, colorType, 8);
    const unsigned colours = png.HasAlphaChannel() ? png.Channels() - 1 : png.Channels();
    for (uint32_t y = 0; y < 32; ++y)
        for (uint32_t x = 0; x < 32; ++x) {
            const uint16_t rgb[3] = {uint16_t(x * 8), uint16_t(y * 8), uint16_t((x * y) & 0xFF)};
            for (unsigned c = 0; c < colours; ++c) png.SetSample(x, y, c, colours == 1 ? uint16_t(x * 8 + y / 4) : rgb[c]);
            if (png.HasAlphaChannel()) png.SetSample(x, y, colours, alpha(x, y));
        }
    for (const auto& [name, data] : chunks) png.AddChunk(name, data);
    png.FilterSet = 1;
    png.CompressionLevel = 1;
    return png.Encode();
}
uint8_t Opaque(uint32_t, uint32_t) { return 255; }
uint8_t Binary(uint32_t x, uint32_t) { return x < 4 ? 0 : 255; }

// Flips a bit of the CRC of the first chunk of that name.
void BreakCrc(std::vector<uint8_t>& bytes, const std::string& name) {
    size_t pos = 8;
    while (pos + 12 <= bytes.size()) {
        const size_t length = size_t(bytes[pos]) << 24 | size_t(bytes[pos + 1]) << 16 | size_t(bytes[pos + 2]) << 8 | bytes[pos + 3];
        if (std::string(reinterpret_cast<const char*>(&bytes[pos + 4]), 4) == name) {
            bytes[pos + 8 + length] ^= 1;
            return;
        }
        pos += length + 12;
    }
    FAIL() << "no " << name;
}

std::string NamePart(const std::string& path) { return fs::path(path).filename().string(); }
std::vector<std::string> Chunks(const fs::path& file) { return PngImage::ListChunks(ReadBytes(file)); }
uint8_t ColorTypeOf(const fs::path& file) { return ReadBytes(file).at(25); }
bool HasTransparentPixels(const fs::path& file) {
    WorkImage image = ReadPng(ReadBytes(file), ReadSettings{GammaMode::Keep, false});
    Analyze(image);
    return image.analysis.transparent > 0;
}

class QuilloxProgram : public test::TempDir {
protected:
    // With prompt answers and a thread pool, as the console program runs.
    int Run(std::vector<std::string> args, const std::string& answers = "") {
        out_.str("");
        err_.str("");
        std::istringstream in(answers);
        ProgramContext context{out_, in, dir_.string(), DefaultPngEncoder(), &pool_, err_};
        context.beforeReplacingInput = hook_;
        return RunProgram(args, context);
    }
    std::function<void(const std::string&)> hook_;

    // A suite image written loosely (no filters, fast deflate), so optimising it pays.
    fs::path Loose(const std::string& name, const std::string& as = "") {
        WorkImage image = ReadInputFile((jx::test::PngSuiteDir() / (name + ".png")).string(), ReadSettings{GammaMode::Keep, false});
        OutputImage out = BuildOutputImage(image, SetDefaultOptions());
        EncodeSettings loose;
        loose.filterSet = 1;
        loose.level = 1;
        fs::path path = dir_ / (as.empty() ? name + ".png" : as);
        jx::test::WriteBytes(path, EncodePngJx(out, loose).bytes);
        return path;
    }

    fs::path Put(const std::string& name, const std::vector<uint8_t>& bytes) {
        fs::create_directories((dir_ / name).parent_path());
        jx::test::WriteBytes(dir_ / name, bytes);
        return dir_ / name;
    }

    fs::path Copy(const fs::path& from, const std::string& as) {
        fs::copy_file(from, dir_ / as, fs::copy_options::overwrite_existing);
        return dir_ / as;
    }

    ThreadPool pool_{3};
};

// Pixels as 16-bit RGBA, transparent pixels' colour dropped.
std::vector<uint32_t> Visible(const fs::path& path) {
    WorkImage image = ReadPng(jx::test::ReadBytes(path), ReadSettings{GammaMode::Keep, false});
    std::vector<uint32_t> v;
    for (size_t i = 0; i < image.rgba.size(); i += 4) {
        bool hidden = image.rgba[i + 3] == 0;
        for (int c = 0; c < 4; ++c) {
            uint32_t s = image.sampleDepth == 16 ? image.rgba[i + c] : (image.rgba[i + c] >> 8) * 257u;
            if (c == 3 && image.rgba[i + 3] == image.OpaqueAlpha()) s = 0xFFFF;
            v.push_back(hidden && c < 3 ? 0 : s);
        }
    }
    return v;
}

TEST_F(QuilloxProgram, MainProgramCallIsSilentAndReplacesOnlyWhenSmaller) {
    fs::path file = Loose("basn6a08", "0.png");
    const auto before = Visible(file);
    const auto looseSize = fs::file_size(file);
    EXPECT_EQ(Run({"/quiet", "/y", "/o4", file.string()}), 0);
    EXPECT_EQ(out_.str(), "");
    EXPECT_LT(fs::file_size(file), looseSize);
    EXPECT_EQ(Visible(file), before);
    // Second run: nothing smaller is found, the file stays byte for byte.
    const auto optimised = jx::test::ReadBytes(file);
    EXPECT_EQ(Run({"/quiet", "/y", "-o4", file.string()}), 0);
    EXPECT_EQ(out_.str(), "");
    EXPECT_EQ(jx::test::ReadBytes(file), optimised);
    EXPECT_EQ(Run({"-o1", file.string()}), 0);
    EXPECT_NE(out_.str().find("0.png is already optimized."), std::string::npos);
    for (const auto& e : fs::directory_iterator(dir_)) EXPECT_EQ(e.path().filename(), "0.png");  // no leftovers
}

// Every suite file keeps its pixels and never grows (unless forced).
TEST_F(QuilloxProgram, EveryConformanceImageKeepsItsPixels) {
    std::vector<std::string> names = jx::test::PngSuiteNames(false);
    std::map<std::string, std::vector<uint32_t>> before;
    for (const std::string& n : names) {
        Copy(jx::test::PngSuiteDir() / (n + ".png"), n + ".png");
        before[n] = Visible(dir_ / (n + ".png"));
    }
    EXPECT_EQ(Run({"/quiet", "*.png"}), 0);
    for (const std::string& n : names) {
        EXPECT_EQ(Visible(dir_ / (n + ".png")), before[n]) << n;
        EXPECT_LE(fs::file_size(dir_ / (n + ".png")), fs::file_size(jx::test::PngSuiteDir() / (n + ".png"))) << n;
    }
    EXPECT_EQ(Run({"/quiet", "/o4", "/force", "*.PNG"}), 0);
    for (const std::string& n : names) EXPECT_EQ(Visible(dir_ / (n + ".png")), before[n]) << n;
}

TEST_F(QuilloxProgram, DamagedFileFailsWhileOthersAreWritten) {
    fs::path bad = Copy(jx::test::PngSuiteDir() / "xcsn0g01.png", "a_bad.png");
    fs::path apng = dir_ / "b_anim.png";
    {
        auto bytes = jx::test::ReadBytes(jx::test::PngSuiteDir() / "basn0g08.png");
        // An acTL chunk right after IHDR.
        std::vector<uint8_t> actl = {0, 0, 0, 8, 'a', 'c', 'T', 'L', 0, 0, 0, 1, 0, 0, 0, 0};
        const uLong crc = crc32(0, actl.data() + 4, 12);
        for (int shift : {24, 16, 8, 0}) actl.push_back(uint8_t(crc >> shift));
        bytes.insert(bytes.begin() + 33, actl.begin(), actl.end());
        jx::test::WriteBytes(apng, bytes);
    }
    fs::path good = Loose("basn2c08", "c_good.png");
    const auto badBytes = jx::test::ReadBytes(bad);
    const auto apngBytes = jx::test::ReadBytes(apng);
    const auto looseSize = fs::file_size(good);
    EXPECT_EQ(Run({"*.png"}), 1);
    EXPECT_EQ(jx::test::ReadBytes(bad), badBytes);
    EXPECT_EQ(jx::test::ReadBytes(apng), apngBytes);
    EXPECT_LT(fs::file_size(good), looseSize);
    EXPECT_NE(err_.str().find(bad.string() + "\nPNG: bad CRC in chunk IDAT\n"), std::string::npos) << err_.str();
    EXPECT_NE(err_.str().find(apng.string() + "\nAPNG not supported.\n"), std::string::npos);
    // Quiet silences the reports, not the failure.
    EXPECT_EQ(Run({"/quiet", "a_bad.png"}), 1);
    EXPECT_EQ(out_.str(), "");
    EXPECT_EQ(err_.str(), bad.string() + "\nPNG: bad CRC in chunk IDAT\n");
    jx::test::WriteBytes(dir_ / "notes.pngx", {1, 2, 3});
    EXPECT_EQ(Run({"notes.pngx"}), 1);
    EXPECT_NE(err_.str().find("Unsupported file type"), std::string::npos);
}

TEST_F(QuilloxProgram, BitmapAndPpmBecomePng) {
    fs::path bmp = Copy(jx::test::DataDir() / "pngsuite" / "bmp" / "basn6a08.bmp", "a.bmp");
    jx::test::WriteBytes(dir_ / "b.PPM", {'P', '6', ' ', '1', ' ', '1', ' ', '2', '5', '5', '\n', 1, 2, 3});
    EXPECT_EQ(Run({"/quiet", "*.*"}), 0);
    ASSERT_TRUE(fs::exists(dir_ / "a.bmp.png"));
    ASSERT_TRUE(fs::exists(dir_ / "b.PPM.png"));
    EXPECT_TRUE(fs::exists(bmp));
    WorkImage png = ReadPng(jx::test::ReadBytes(dir_ / "a.bmp.png"), ReadSettings{GammaMode::Keep, false});
    WorkImage src = ReadBmp(jx::test::ReadBytes(bmp), ReadSettings{GammaMode::Keep, true});
    EXPECT_EQ(png.rgba, src.rgba);
    WorkImage ppm = ReadPng(jx::test::ReadBytes(dir_ / "b.PPM.png"), ReadSettings{GammaMode::Keep, false});
    EXPECT_EQ(ppm.Pixel(0, 0)[2], 3 << 8);
    EXPECT_EQ(ppm.pngColorType, 2);
}

TEST_F(QuilloxProgram, OutputFolderIsFlatAndKeepsCase) {
    fs::create_directories(dir_ / "Sub" / "Deep");
    Loose("basn0g08", "Sub/one.png");
    Loose("basn2c08", "Sub/Deep/two.png");
    EXPECT_EQ(Run({"/quiet", "/dir", "Out", "Sub/*.png", "/r"}), 0);
    EXPECT_TRUE(fs::exists(dir_ / "Out" / "one.png"));
    EXPECT_TRUE(fs::exists(dir_ / "Out" / "two.png"));
    EXPECT_FALSE(fs::exists(dir_ / "out"));
    // Without /r only the top folder is searched.
    fs::remove_all(dir_ / "Out");
    EXPECT_EQ(Run({"/quiet", "/dir", "Out", "Sub/*.png"}), 0);
    EXPECT_TRUE(fs::exists(dir_ / "Out" / "one.png"));
    EXPECT_FALSE(fs::exists(dir_ / "Out" / "two.png"));

    jx::test::WriteBytes(dir_ / "blocker", {0});
    EXPECT_EQ(Run({"/dir", "blocker/x", "Sub/one.png"}), 1);
    EXPECT_NE(err_.str().find("Failed to create output directory"), std::string::npos);
}

// The others are left out, each with a line, and the run fails.
TEST_F(QuilloxProgram, OutputFileTakesTheFirstInputOnly) {
    Loose("basn0g08", "a.png");
    const fs::path b = Loose("basn2c08", "b.png");
    const auto bBytes = ReadBytes(b);
    EXPECT_EQ(Run({"/quiet", "/out", "Result", "a.png", "b.png"}), 1);
    EXPECT_TRUE(fs::exists(dir_ / "Result.png"));
    EXPECT_FALSE(fs::exists(dir_ / "Result"));
    EXPECT_EQ(Visible(dir_ / "Result.png"), Visible(dir_ / "a.png"));
    EXPECT_EQ(err_.str(), b.string() + "\nLeft out: \"/out\" names one output file, for the first input only; "
                                       "nothing was written for this file\n");
    EXPECT_EQ(ReadBytes(b), bBytes);
}

// Rewriting in place keeps the file's mode, owner (when run by root) and link.
TEST_F(QuilloxProgram, InPlaceResultKeepsModeOwnerAndLink) {
    fs::create_directory(dir_ / "real");
    const fs::path target = Loose("basn2c08", "real/a.png");
    const auto before = fs::file_size(target);
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(target.c_str(), 65534, 65534), 0);
    }
    fs::create_symlink("real/a.png", dir_ / "a.png");
    EXPECT_EQ(Run({"/quiet", "/y", "a.png"}), 0);
    EXPECT_TRUE(fs::is_symlink(dir_ / "a.png"));
    EXPECT_LT(fs::file_size(target), before);
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    if (root) {
        EXPECT_EQ(st.st_uid, 65534u);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "real"), fs::directory_iterator()), 1);
}

TEST_F(QuilloxProgram, WriteFailureIsReportedAndLeavesNoFile) {
    fs::path a = Loose("basn0g08", "a.png");
    EXPECT_EQ(Run({"/out", "missing/dir/b.png", "a.png"}), 1);
    EXPECT_NE(err_.str().find("missing/dir/b.png\": No such file or directory"), std::string::npos) << err_.str();
    EXPECT_FALSE(fs::exists(dir_ / "missing"));
    EXPECT_TRUE(fs::exists(a));
}

TEST_F(QuilloxProgram, OverwritePromptAndAlreadyOptimizedCopy) {
    fs::path a = Loose("basn0g08", "a.png");
    fs::create_directories(dir_ / "out");
    jx::test::WriteBytes(dir_ / "out" / "a.png", {9});
    // A refusal, answered or (quiet) unasked, writes nothing and fails the run with a line naming the file.
    const std::string told = (dir_ / "out" / "a.png").string() + "\nThe file exists and was not replaced";
    EXPECT_EQ(Run({"/dir", "out", "a.png"}, "n\n"), 1);
    EXPECT_NE(err_.str().find((dir_ / "out" / "a.png").string() + ": Do you really want to overwrite the existing file? (y/n):"),
              std::string::npos);
    EXPECT_NE(err_.str().find(told), std::string::npos) << err_.str();
    EXPECT_EQ(jx::test::ReadBytes(dir_ / "out" / "a.png"), std::vector<uint8_t>{9});
    EXPECT_EQ(Run({"/quiet", "/dir", "out", "a.png"}), 1);  // quiet asks nothing and so keeps it
    EXPECT_EQ(out_.str(), "");
    EXPECT_NE(err_.str().find(told), std::string::npos) << err_.str();
    EXPECT_EQ(jx::test::ReadBytes(dir_ / "out" / "a.png"), std::vector<uint8_t>{9});
    // Also when several files run side by side.
    Loose("basn2c08", "b.png");
    jx::test::WriteBytes(dir_ / "out" / "b.png", {8});
    EXPECT_EQ(Run({"/quiet", "/dir", "out", "a.png", "b.png"}), 1);
    EXPECT_NE(err_.str().find((dir_ / "out" / "b.png").string() + "\nThe file exists"), std::string::npos) << err_.str();
    EXPECT_EQ(jx::test::ReadBytes(dir_ / "out" / "b.png"), std::vector<uint8_t>{8});
    EXPECT_EQ(Run({"/dir", "out", "a.png"}, "Y\n"), 0);
    EXPECT_GT(fs::file_size(dir_ / "out" / "a.png"), 1u);

    // An input that cannot be made smaller is copied as it is to another output.
    EXPECT_EQ(Run({"/quiet", "a.png"}), 0);
    const auto optimised = jx::test::ReadBytes(a);
    EXPECT_EQ(Run({"/y", "/dir", "copy", "a.png"}), 0);
    EXPECT_NE(out_.str().find("a.png is already optimized.\nOutput file a.png\n"), std::string::npos);
    EXPECT_EQ(jx::test::ReadBytes(dir_ / "copy" / "a.png"), optimised);
}

// What lies beside an output is the user's: only a stale temporary of our own shape goes. A file
// the user protected from writing is refused, also when run by root.
TEST_F(QuilloxProgram, NeighboursSurviveAndProtectedFilesAreRefused) {
    const fs::path a = Loose("basn2c08", "a.png");
    const std::vector<std::string> mine = {".a.png.backup", ".a.png.abc123", ".a.png.draft2", ".a.png.jx-"};
    for (const std::string& n : mine) Put(n, {1, 2, 3});
    Put(".a.png.jx-Ab12Cd", {4});  // left by a killed run
    const struct timespec old[2] = {{::time(nullptr) - 120, 0}, {::time(nullptr) - 120, 0}};
    for (const auto& e : fs::directory_iterator(dir_)) ASSERT_EQ(::utimensat(AT_FDCWD, e.path().c_str(), old, 0), 0);
    const auto before = fs::file_size(a);
    EXPECT_EQ(Run({"/quiet", "a.png"}), 0) << err_.str();
    EXPECT_LT(fs::file_size(a), before);
    for (const std::string& n : mine) EXPECT_EQ(ReadBytes(dir_ / n), (std::vector<uint8_t>{1, 2, 3})) << n;
    EXPECT_FALSE(fs::exists(dir_ / ".a.png.jx-Ab12Cd"));

    const fs::path b = Loose("basn2c08", "b.png");
    const auto bytes = ReadBytes(b);
    ASSERT_EQ(::chmod(b.c_str(), 0444), 0);
    EXPECT_EQ(Run({"/quiet", "b.png"}), 1);
    EXPECT_NE(err_.str().find(b.string() + "\": the file is write-protected"), std::string::npos) << err_.str();
    fs::create_directory(dir_ / "out");
    const fs::path c = Put("out/b.png", {7});
    ASSERT_EQ(::chmod(c.c_str(), 0444), 0);
    EXPECT_EQ(Run({"/quiet", "/y", "/dir", "out", "b.png"}), 1);
    EXPECT_NE(err_.str().find("write-protected"), std::string::npos) << err_.str();
    EXPECT_EQ(ReadBytes(b), bytes);
    EXPECT_EQ(ReadBytes(c), std::vector<uint8_t>{7});
}

TEST_F(QuilloxProgram, KeepsFileTimes) {
    fs::path a = Loose("basn2c08", "a.png");
    struct timespec times[2] = {{1000000000, 0}, {1200000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, a.c_str(), times, 0), 0);
    EXPECT_EQ(Run({"/quiet", "/t", "a.png"}), 0);
    struct stat st {};
    ASSERT_EQ(stat(a.c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
}

// Run-length bitmaps coded over their rows' stored widths, as a common converter writes them.
TEST_F(QuilloxProgram, RunLengthBitmapsCodedOverTheirStoredWidthConvert) {
    std::vector<jx::test::TPaddedRleBitmap> made;
    for (int32_t w : {449, 450, 451, 453}) made.push_back(jx::test::PaddedRleBitmap(w, 4, false));
    for (int32_t w = 449; w <= 455; ++w) made.push_back(jx::test::PaddedRleBitmap(w, 4, true));
    for (size_t i = 0; i < made.size(); ++i) Put("p" + std::to_string(i) + ".bmp", made[i].File);
    EXPECT_EQ(Run({"/y", "*.bmp"}), 0) << err_.str();
    EXPECT_EQ(err_.str(), "");
    for (size_t i = 0; i < made.size(); ++i) {
        SCOPED_TRACE(i);
        const fs::path png = dir_ / ("p" + std::to_string(i) + ".bmp.png");
        ASSERT_TRUE(fs::exists(png));
        const WorkImage out = ReadPng(ReadBytes(png), ReadSettings{GammaMode::Keep, false});
        ASSERT_EQ(out.width, uint32_t(made[i].Width));
        size_t wrong = 0;
        for (uint32_t y = 0; y < out.height; ++y)
            for (uint32_t x = 0; x < out.width; ++x) {
                const auto p = out.Pixel(x, y);
                const uint32_t rgb = uint32_t(p[0] >> 8) << 16 | uint32_t(p[1] >> 8) << 8 | uint32_t(p[2] >> 8);
                wrong += rgb != jx::test::TPaddedRleBitmap::Rgb(made[i].Index[y * out.width + x]);
            }
        EXPECT_EQ(wrong, 0u);
    }
}

// A 24-bit bitmap of w x h pixels (a gradient), as a converted input.
std::vector<uint8_t> MakeBmp(uint32_t w, uint32_t h) {
    const uint32_t stride = (w * 3 + 3) / 4 * 4, size = 54 + stride * h;
    std::vector<uint8_t> b(size, 0);
    auto le32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
    };
    b[0] = 'B', b[1] = 'M';
    le32(2, size), le32(10, 54), le32(14, 40), le32(18, w), le32(22, h);
    b[26] = 1, b[28] = 24;
    le32(34, stride * h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* p = &b[54 + y * stride + x * 3];
            p[0] = uint8_t(x * 16), p[1] = uint8_t(y * 16), p[2] = uint8_t(x * y);
        }
    return b;
}

// A bitmap whose header the data contradicts converts as before, with a report line.
TEST_F(QuilloxProgram, ABitmapWhoseSizeTheDataContradictsConvertsWithAReportLine) {
    Put("whole.bmp", MakeBmp(33, 32));
    auto narrow = MakeBmp(33, 32);
    narrow[18] = 32;
    Put("narrow.bmp", narrow);
    auto rle = jx::test::PaddedRleBitmap(451, 6, false).File;
    rle[22] = 3;
    Put("low.bmp", rle);
    EXPECT_EQ(Run({"/y", "/o1", "whole.bmp"}), 0);
    EXPECT_EQ(err_.str(), "");
    EXPECT_EQ(Run({"/y", "/o1", "narrow.bmp", "low.bmp"}), 0);
    EXPECT_NE(err_.str().find("narrow.bmp\nthe pixel data holds 128 bytes (1 row) more than a 32x32 image needs (the "
                              "width or height may be damaged)\n"),
              std::string::npos)
        << err_.str();
    EXPECT_NE(err_.str().find("low.bmp\nthe run-length data goes on for 3 rows past the last of 3 rows (the height "
                              "may be damaged)\n"),
              std::string::npos)
        << err_.str();
    const WorkImage out = ReadPng(ReadBytes(dir_ / "narrow.bmp.png"), ReadSettings{GammaMode::Keep, false});
    EXPECT_EQ(out.rgba, ReadBmp(narrow, ReadSettings{GammaMode::Keep, false}).rgba);
    EXPECT_EQ(ReadPng(ReadBytes(dir_ / "low.bmp.png"), ReadSettings{GammaMode::Keep, false}).height, 3u);
}

std::vector<std::string> Names(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A converted input's output ("a.bmp.png") is another file than the input: an existing one is the
// user's and is asked about, or under "/quiet" kept, as under "/out" and "/dir".
TEST_F(QuilloxProgram, AConvertedFileNeverReplacesAnExistingOneUnasked) {
    const fs::path bmp = Put("a.bmp", MakeBmp(8, 8));
    const std::vector<uint8_t> mine{'m', 'i', 'n', 'e'};
    const fs::path user = Put("a.bmp.png", mine);
    const std::string told = user.string() + "\nThe file exists and was not replaced";
    EXPECT_EQ(Run({"/quiet", "a.bmp"}), 1);
    EXPECT_NE(err_.str().find(told), std::string::npos) << err_.str();
    EXPECT_EQ(ReadBytes(user), mine);
    EXPECT_EQ(Run({"a.bmp"}, "n\n"), 1);
    EXPECT_NE(err_.str().find(user.string() + ": Do you really want to overwrite the existing file? (y/n):"),
              std::string::npos);
    EXPECT_EQ(ReadBytes(user), mine);
    // Beside files that run side by side, and beside a PNG optimised in place unasked.
    Put("b.ppm", {'P', '6', ' ', '2', ' ', '1', ' ', '2', '5', '5', '\n', 1, 2, 3, 4, 5, 6});
    const fs::path png = Put("c.png", MakePng(kPngRgb, Opaque));
    const auto looseSize = fs::file_size(png);
    for (const std::string& answers : {"", "n\n"}) {
        fs::remove(dir_ / "b.ppm.png");
        EXPECT_EQ(Run(answers.empty() ? std::vector<std::string>{"/quiet", "*.bmp", "*.ppm", "c.png"}
                                      : std::vector<std::string>{"*.bmp", "*.ppm", "c.png"},
                      answers),
                  1);
        EXPECT_NE(err_.str().find(told), std::string::npos) << err_.str();
        EXPECT_EQ(ReadBytes(user), mine);
        EXPECT_TRUE(fs::exists(dir_ / "b.ppm.png"));
    }
    EXPECT_LT(fs::file_size(png), looseSize);
    EXPECT_EQ(Names(dir_), (std::vector<std::string>{"a.bmp", "a.bmp.png", "b.ppm", "b.ppm.png", "c.png"}));
    // Agreed to, or with "/y", it is replaced.
    EXPECT_EQ(Run({"a.bmp"}, "y\n"), 0);
    EXPECT_EQ(ReadBytes(user).at(1), 'P');
    Put("a.bmp.png", mine);
    EXPECT_EQ(Run({"/quiet", "/y", "a.bmp"}), 0);
    EXPECT_EQ(ReadBytes(user).at(1), 'P');
    EXPECT_EQ(ReadBytes(bmp), MakeBmp(8, 8));
}

// An empty script variable or a trailing option must not turn "/out" or "/dir" into rewriting
// the input in place: the run stops before anything is read or written.
TEST_F(QuilloxProgram, AnOptionWithoutItsValueStopsTheRun) {
    const auto bytes = MakePng(kPngRgb, Opaque);
    const fs::path f = Put("f.png", bytes);
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"/out", {"/quiet", "f.png", "/l", "q=40", "/out", ""}},
        {"-dir", {"/quiet", "f.png", "-dir", ""}},
        {"/out", {"/quiet", "f.png", "/out"}},
        {"/DIR", {"f.png", "/DIR"}},
        {"/log", {"/quiet", "/log", "", "f.png"}},
        {"/o", {"/quiet", "f.png", "/o"}},
        {"/md", {"/quiet", "/md", "remove", "", "f.png"}},
    };
    for (const auto& [option, args] : cases) {
        EXPECT_EQ(Run(args), 1) << option;
        EXPECT_NE(err_.str().find(option + "\nThe option needs a value, and it was empty or missing"), std::string::npos)
            << option << "\n" << err_.str();
        EXPECT_EQ(out_.str().find("try..."), std::string::npos) << option;
        EXPECT_EQ(ReadBytes(f), bytes) << option;
        EXPECT_EQ(Names(dir_), std::vector<std::string>{"f.png"}) << option;
    }
}

// "/out d/" names a folder; a missing one is told as the folder given, an existing one gains no
// hidden ".png".
TEST_F(QuilloxProgram, AnOutputFileNamingAFolderIsRefused) {
    const auto bytes = MakePng(kPngRgb, Opaque);
    const fs::path f = Put("f.png", bytes);
    fs::create_directory(dir_ / "d");
    for (const std::string& out : {"newd/", "d/", "."}) {
        EXPECT_EQ(Run({"/quiet", "/out", out, "f.png"}), 1) << out;
        EXPECT_EQ(err_.str(), (dir_ / out).string() +
                                  "\nThe output file names a folder (\"/dir\" writes into a folder); nothing was read or written\n");
        EXPECT_EQ(ReadBytes(f), bytes);
        EXPECT_EQ(Names(dir_), (std::vector<std::string>{"d", "f.png"}));
        EXPECT_TRUE(fs::is_empty(dir_ / "d"));
    }
}

// A pipe, a folder or a dangling link among the names is told as what it is and left out; the
// other files are optimised and the run fails.
TEST_F(QuilloxProgram, NamesThatAreNotRegularFilesAreSkipped) {
    const fs::path a = Put("a.png", MakePng(kPngRgb, Opaque));
    const fs::path b = Put("b.png", MakePng(kPngRgb, Opaque));
    const auto looseSize = fs::file_size(a);
    ASSERT_EQ(::mkfifo((dir_ / "pipe.png").c_str(), 0600), 0);
    fs::create_directory(dir_ / "dir.png");
    fs::create_symlink("nothing.png", dir_ / "gone.png");
    EXPECT_EQ(Run({"/quiet", "a.png", "pipe.png", "dir.png", "gone.png", "b.png"}), 1);
    EXPECT_LT(fs::file_size(a), looseSize);
    EXPECT_LT(fs::file_size(b), looseSize);
    for (const auto& [name, kind] : {std::pair{"pipe.png", "a pipe"}, {"dir.png", "a folder"},
                                     {"gone.png", "a link that leads to no file"}})
        EXPECT_NE(err_.str().find((dir_ / name).string() + "\nIt is not a regular file (" + kind + "); skipped\n"),
                  std::string::npos)
            << err_.str();
    EXPECT_EQ(err_.str().find("No such file"), std::string::npos) << err_.str();
    EXPECT_TRUE(fs::is_fifo(dir_ / "pipe.png"));
    EXPECT_TRUE(fs::is_symlink(dir_ / "gone.png"));
    EXPECT_FALSE(fs::exists(dir_ / "nothing.png"));
    // Alone it asks for no usage text; under "/out" the output was the skipped name's.
    EXPECT_EQ(Run({"pipe.png"}), 1);
    EXPECT_EQ(out_.str().find("options:"), std::string::npos);
    EXPECT_EQ(err_.str().find("No input file given"), std::string::npos) << err_.str();
    EXPECT_EQ(Run({"/quiet", "/out", "r.png", "pipe.png", "a.png"}), 1);
    EXPECT_FALSE(fs::exists(dir_ / "r.png"));
}

// One file is optimised once whatever its spelling, and outputs are compared by their place.
TEST_F(QuilloxProgram, OneFileUnderTwoSpellingsRunsOnce) {
    const fs::path d = Put("d.png", MakePng(kPngRgb, Opaque));
    fs::create_directory(dir_ / "sub");
    EXPECT_EQ(Run({"d.png", "./d.png", "sub/../d.png", d.string(), "*.png"}), 0) << err_.str();
    const std::string text = out_.str();
    size_t runs = 0;
    for (size_t at = text.find("Input file: "); at != std::string::npos; at = text.find("Input file: ", at + 1)) ++runs;
    EXPECT_EQ(runs, 1u) << text;
    // "./a.bmp" becomes "./a.bmp.png", the input "a.bmp.png": refused, not written while it is read.
    Put("a.bmp", MakeBmp(4, 4));
    Put("a.bmp.png", MakePng(kPngRgba, Binary));
    EXPECT_EQ(Run({"/quiet", "/y", "./a.bmp", "a.bmp.png"}), 1);
    EXPECT_NE(err_.str().find(" is another input of this run; nothing written"), std::string::npos) << err_.str();
    EXPECT_TRUE(HasTransparentPixels(dir_ / "a.bmp.png"));  // optimised in place, not replaced by the bitmap
}

TEST(QuilloxMasks, Wildcards) {
    for (auto [name, mask] : {std::pair{"image.png", "*.png"}, {"image.png", "im?ge.*"}, {"a.b.png", "*.png"}, {"x", "*"}})
        EXPECT_TRUE(MatchesMask(name, mask)) << name << " " << mask;
    for (auto [name, mask] : {std::pair{"image.png", "*.bmp"}, {"image.png", "image"}, {"ab", "a?b"}})
        EXPECT_FALSE(MatchesMask(name, mask)) << name << " " << mask;
}

// Report texts as they stand.
TEST_F(QuilloxProgram, DeltaFilterAndOutputFormat) {
    const std::pair<const char*, const char*> cases[] = {
        {"f00n0g08", "None"}, {"f01n0g08", "Sub"}, {"f04n0g08", "Paeth"}, {"f99n0g04", "Mixed"}};
    for (const auto& [name, filter] : cases) {
        Run({Copy(jx::test::PngSuiteDir() / (std::string(name) + ".png"), std::string(name) + ".png").string()});
        EXPECT_NE(out_.str().find(std::string("Delta filter: ") + filter + "\n"), std::string::npos) << out_.str();
    }
    Copy(jx::test::PngSuiteDir() / "basi0g01.png", "basi0g01.png");
    Run({"basi0g01.png"});  // interlaced as the input
    EXPECT_NE(out_.str().find("\nOutput format: 1 bits/sample | Interlaced | Grayscale\n\r"), std::string::npos) << out_.str();
    Run({"/i0", "basi0g01.png"});
    EXPECT_NE(out_.str().find("\nOutput format: 1 bits/sample | Grayscale\n\r"), std::string::npos) << out_.str();
}

TEST_F(QuilloxProgram, InfoListsColoursAndRowFiltersAndNeverModifies) {
    const fs::path a = Copy(jx::test::PngSuiteDir() / "f99n0g04.png", "a.png");
    const auto bytes = jx::test::ReadBytes(a);
    EXPECT_EQ(Run({"/inf", "a.png"}), 0);
    const std::string text = out_.str();
    EXPECT_NE(text.find("Input file: " + a.string()), std::string::npos);
    EXPECT_NE(text.find(" | 15 color(s)\n"), std::string::npos) << text;
    const size_t at = text.find("Filter per scanline:\n");
    ASSERT_NE(at, std::string::npos);
    const std::string rows = text.substr(at + 21, text.find('\n', at + 21) - at - 21);
    EXPECT_EQ(rows.size(), 32u);
    EXPECT_EQ(rows.find_first_not_of("01234"), std::string::npos);
    EXPECT_EQ(text.find("try..."), std::string::npos);
    EXPECT_EQ(Run({"/info", "/quiet", "a.png"}), 0);
    EXPECT_EQ(out_.str(), "");
    EXPECT_EQ(jx::test::ReadBytes(a), bytes);
}

TEST_F(QuilloxProgram, QuietWritesNothingButTheLog) {
    Copy(jx::test::PngSuiteDir() / "basn0g08.png", "basn0g08.png");
    Copy(jx::test::PngSuiteDir() / "basn2c08.png", "basn2c08.png");
    const std::string log = (dir_ / "run.log").string();
    EXPECT_EQ(Run({"/quiet", "/log", log, "/f0", "basn0g08.png", "basn2c08.png"}), 0);
    EXPECT_EQ(out_.str(), "");
    const auto bytes = jx::test::ReadBytes(log);
    const std::string text(bytes.begin(), bytes.end());
    size_t first = text.find('\n');
    ASSERT_NE(first, std::string::npos);
    const std::string record = text.substr(first + 1, text.find('\n', first + 1) - first);
    EXPECT_EQ(record.rfind((dir_ / "basn0g08.png").string() + "\tclr:256\tc:0/", 0), 0u) << record;
    EXPECT_NE(record.find("\tb:8/8\tzc:9\tzm:"), std::string::npos) << record;
    EXPECT_NE(record.find("\tfs:-\tf:0\tIDAT="), std::string::npos) << record;
    EXPECT_NE(text.find("basn2c08.png\tclr:tc\tc:2/2\t"), std::string::npos) << text;
    EXPECT_NE(text.find("\n\r"), std::string::npos);
}

// Command-line faults once mended: glued options, names that find nothing, colliding outputs,
// chunk names and damaged chunks.
TEST_F(QuilloxProgram, GluedPathOptionsAndParametersThatFindNothing) {
    const auto bytes = MakePng(kPngRgb, Opaque);
    const fs::path a = Put("a.png", bytes);
    const std::string out = (dir_ / "o").string();
    EXPECT_EQ(Run({"/quiet", "/dir" + out, "a.png"}), 0) << err_.str();
    EXPECT_EQ(ReadBytes(a), bytes);
    EXPECT_TRUE(fs::exists(dir_ / "o" / "a.png"));
    EXPECT_EQ(Run({"/quiet", "/out" + (dir_ / "r.png").string(), "a.png"}), 0);
    EXPECT_EQ(ReadBytes(a), bytes);
    EXPECT_TRUE(fs::exists(dir_ / "r.png"));

    // A name or mask that finds nothing stops the run before any file is touched.
    for (std::vector<std::string> args : {std::vector<std::string>{"/quiet", "missing.png", "a.png"},
                                          {"a.png", "none*.png"}, {"/quiet", "/dri", out, "a.png"}}) {
        EXPECT_EQ(Run(args), 1) << args[1];
        EXPECT_NE(err_.str().find("No such file, and no file matches it"), std::string::npos) << args[1];
        EXPECT_EQ(ReadBytes(a), bytes) << args[1];
    }
    EXPECT_EQ(Run({"/quiet", "/o4"}), 1);
    EXPECT_NE(err_.str().find("No input file given"), std::string::npos);
    // A mistyped option takes no name after it and is told as what it most likely is.
    EXPECT_EQ(Run({"/quiet", "/zz", a.string()}), 1);
    EXPECT_NE(err_.str().find("/zz"), std::string::npos) << err_.str();
    EXPECT_NE(err_.str().find("nor is it an option"), std::string::npos) << err_.str();
    EXPECT_EQ(err_.str().find("No input file given"), std::string::npos) << err_.str();
    EXPECT_EQ(ReadBytes(a), bytes);
}

// cHRM of white 0.3127 0.329, red x and y 0.64 and redY - 0.64, green 0.3 0.6, blue 0.15 0.06.
std::vector<uint8_t> Chrm(uint32_t redSum) {
    std::vector<uint8_t> d;
    for (uint32_t v : {31270u, 32900u, 64000u, redSum - 64000u, 30000u, 60000u, 15000u, 6000u})
        for (int s = 24; s >= 0; s -= 8) d.push_back(uint8_t(v >> s));
    return d;
}

// A damaged input's repeated, malformed and misnamed chunks stay behind, each with a report line,
// so the freshly written file passes a PNG checker; the first copy of a once-only chunk stays.
TEST_F(QuilloxProgram, RepeatedAndMalformedChunksAreDroppedFromAFreshFile) {
    const std::vector<uint8_t> phys{0, 0, 0, 1, 0, 0, 0, 1, 1}, time{7, 234, 1, 2, 3, 4, 5};
    const fs::path in = Put("d.png", MakePng(kPngRgb, Opaque,
                                             {{"sRGB", {0}}, {"sRGB", {1}}, {"cHRM", std::vector<uint8_t>(31, 0)},
                                              {"pHYs", phys}, {"pHYs", {0, 0, 0, 2, 0, 0, 0, 2, 1}}, {"pHYs", phys},
                                              {"tIME", time}, {"tIME", time}, {"tIME", {7, 234, 13, 1, 0, 0, 0}},
                                              {"tEXt", {'T', 'i', 1, 0, 'x'}}, {"tEXt", {' ', 'k', 0, 'x'}},
                                              {"tEXt", {'T', 'i', 't', 'l', 'e', 0, 'o', 'k'}},
                                              {"zTXt", {'Z', 0, 0, 1, 2, 3}}, {"iCCP", {'p', 0, 0, 1, 2}},
                                              {"sPLT", {'s', 0, 8, 1, 2, 3}}, {"gAMA", {0, 0, 0, 0}},
                                              {"abcd", {1}}, {"sCAL", {1}}, {"cHRM", Chrm(100001)}}));
    const auto input = ReadBytes(in);
    ASSERT_EQ(Run({"/y", "/dir", "out", in.string()}), 0) << err_.str();
    const fs::path out = dir_ / "out" / "d.png";
    EXPECT_EQ(Chunks(out), (std::vector<std::string>{"IHDR", "sRGB", "pHYs", "tIME", "tEXt", "IDAT", "IEND"}));
    const PngImage decoded = PngImage::Decode(ReadBytes(out));
    EXPECT_EQ(decoded.FindChunk("sRGB")->Data, (std::vector<uint8_t>{0}));
    EXPECT_EQ(decoded.FindChunk("pHYs")->Data, phys);
    EXPECT_EQ(decoded.FindChunk("tIME")->Data, time);
    EXPECT_EQ(PngImage::ReadText(*decoded.FindChunk("tEXt")), (std::pair<std::string, std::string>{"Title", "ok"}));
    const std::string err = err_.str();
    for (const char* line : {"sRGB: repeated, chunk dropped", "cHRM: wrong length, chunk dropped",
                             "pHYs: repeated, chunk dropped", "tIME: repeated, chunk dropped",
                             "tEXt: invalid keyword, chunk dropped", "zTXt: damaged compressed data, chunk dropped",
                             "iCCP: sRGB and iCCP exclude each other, chunk dropped", "sPLT: wrong length, chunk dropped",
                             "gAMA: zero gamma, chunk dropped", "abcd: reserved name, chunk dropped",
                             "sCAL: invalid content, chunk dropped", "cHRM: impossible chromaticity, chunk dropped"})
        EXPECT_NE(err.find(line), std::string::npos) << line << "\n" << err;
    EXPECT_EQ(ReadBytes(in), input);
}

// A background colour the new palette lacks is added to it, not replaced by the nearest entry,
// unless that would pass the colour count asked for: then the nearest entry stands in, with a
// report line.
TEST_F(QuilloxProgram, ABackgroundKeepsItsExactColourInANewPalette) {
    PngImage few(32, 32, kPngRgb, 8);
    for (uint32_t y = 0; y < 32; ++y)
        for (uint32_t x = 0; x < 32; ++x) few.SetSample(x, y, 0, uint16_t(x < 10 ? 40 : x < 20 ? 120 : 200));
    few.AddChunk("bKGD", {0, 1, 0, 2, 0, 3});
    Put("few.png", few.Encode());
    ASSERT_EQ(Run({"/y", "/dir", "out", "few.png"}), 0) << err_.str();
    PngImage out = PngImage::Decode(ReadBytes(dir_ / "out" / "few.png"));
    ASSERT_EQ(out.ColorType(), kPngPalette);
    EXPECT_EQ(out.Palette.size(), 4u);  // three colours and the background, at 2 bits
    const PngChunk* bkgd = out.FindChunk("bKGD");
    ASSERT_NE(bkgd, nullptr);
    ASSERT_EQ(bkgd->Data.size(), 1u);
    ASSERT_LT(bkgd->Data[0], out.Palette.size());
    PngRgb c = out.Palette[bkgd->Data[0]];
    EXPECT_EQ((std::array<int, 3>{c.R, c.G, c.B}), (std::array<int, 3>{1, 2, 3}));
    EXPECT_EQ(err_.str().find("nearest"), std::string::npos) << err_.str();

    const fs::path in = Put("b.png", MakePng(kPngRgb, Opaque, {{"bKGD", {0, 1, 0, 2, 0, 3}}}));
    ASSERT_EQ(Run({"/y", "/jx", "c=16", "/dir", "out", in.string()}), 0) << err_.str();
    out = PngImage::Decode(ReadBytes(dir_ / "out" / "b.png"));
    ASSERT_EQ(out.ColorType(), kPngPalette);
    EXPECT_LE(out.Palette.size(), 16u);
    bkgd = out.FindChunk("bKGD");
    ASSERT_NE(bkgd, nullptr);
    ASSERT_LT(bkgd->Data.at(0), out.Palette.size());
    c = out.Palette[bkgd->Data[0]];
    EXPECT_LT(c.R + c.G + c.B, 60);  // the darkest corner of the image stands in for (1, 2, 3)
    EXPECT_NE(err_.str().find(in.string() + "\nbKGD: the palette is full, the nearest colour stands in\n"),
              std::string::npos)
        << err_.str();
}

// Chunks after the image data come out before it, each with a report line, and the file passes
// the decoder.
TEST_F(QuilloxProgram, ChunksMovedBeforeTheImageDataAreReported) {
    std::vector<uint8_t> bytes = MakePng(kPngRgb, Opaque);
    PngImage tail;
    tail.AddChunk("gAMA", {0, 0, 0xB1, 0x8F});
    tail.AddText("Note", "late", false);
    std::vector<uint8_t> late;
    for (const PngChunk& chunk : tail.Chunks) {
        std::vector<uint8_t> c = {0, 0, 0, uint8_t(chunk.Data.size())};
        c.insert(c.end(), chunk.Name.begin(), chunk.Name.end());
        c.insert(c.end(), chunk.Data.begin(), chunk.Data.end());
        const uLong crc = crc32(0, c.data() + 4, uInt(c.size() - 4));
        for (int shift : {24, 16, 8, 0}) c.push_back(uint8_t(crc >> shift));
        late.insert(late.end(), c.begin(), c.end());
    }
    bytes.insert(bytes.end() - 12, late.begin(), late.end());
    const fs::path in = Put("late.png", bytes);
    ASSERT_EQ(Run({"/y", "/dir", "out", in.string()}), 0) << err_.str();
    EXPECT_EQ(Chunks(dir_ / "out" / "late.png"), (std::vector<std::string>{"IHDR", "gAMA", "tEXt", "IDAT", "IEND"}));
    EXPECT_NO_THROW(PngImage::Decode(ReadBytes(dir_ / "out" / "late.png")));
    EXPECT_NE(err_.str().find(in.string() + "\ngAMA: after the image data, chunk moved before it\n"), std::string::npos)
        << err_.str();
    EXPECT_NE(err_.str().find(in.string() + "\ntEXt: after the image data, chunk moved before it\n"), std::string::npos);
    EXPECT_EQ(ReadBytes(in), bytes);
}

TEST_F(QuilloxProgram, ColourChunksWithoutGammaGainNone) {
    const fs::path srgb = Put("s.png", MakePng(kPngRgb, Opaque, {{"sRGB", {0}}, {"pHYs", {0, 0, 0, 1, 0, 0, 0, 1, 0}}}));
    EXPECT_EQ(Run({"/quiet", "/dir", "out", "s.png"}), 0) << err_.str();
    EXPECT_EQ(Chunks(dir_ / "out" / "s.png"), (std::vector<std::string>{"IHDR", "sRGB", "pHYs", "IDAT", "IEND"}));
    EXPECT_EQ(Run({"/quiet", "/y", "/dir", "out", "/md", "remove", "all", "s.png"}), 0);
    EXPECT_EQ(Chunks(dir_ / "out" / "s.png"), (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    // A real gAMA is still kept.
    Put("g.png", MakePng(kPngRgb, Opaque, {{"gAMA", {0, 0, 0xB1, 0x8F}}, {"sRGB", {0}}}));
    EXPECT_EQ(Run({"/quiet", "/dir", "out", "g.png"}), 0);
    EXPECT_EQ(Chunks(dir_ / "out" / "g.png"), (std::vector<std::string>{"IHDR", "gAMA", "sRGB", "IDAT", "IEND"}));
}

TEST_F(QuilloxProgram, KeepColourTypeKeepsTheAlphaChannel) {
    Put("opaque.png", MakePng(kPngRgba, Opaque));
    Put("binary.png", MakePng(kPngRgba, Binary));
    Put("grey.png", MakePng(kPngGreyAlpha, Opaque));
    EXPECT_EQ(Run({"/quiet", "/nc", "/dir", "nc", "*.png"}), 0) << err_.str();
    EXPECT_EQ(ColorTypeOf(dir_ / "nc" / "opaque.png"), kPngRgba);
    EXPECT_EQ(ColorTypeOf(dir_ / "nc" / "binary.png"), kPngRgba);
    EXPECT_EQ(ColorTypeOf(dir_ / "nc" / "grey.png"), kPngGreyAlpha);
    EXPECT_EQ(Run({"/quiet", "/o4", "/nc", "/dir", "nc4", "opaque.png"}), 0);
    EXPECT_EQ(ColorTypeOf(dir_ / "nc4" / "opaque.png"), kPngRgba);
}

TEST_F(QuilloxProgram, SecondInputForTheSameOutputIsRefused) {
    Put("one/x.png", MakePng(kPngRgb, Opaque));
    const auto second = MakePng(kPngRgba, Binary);
    const fs::path two = Put("two/x.png", second);
    for (std::vector<std::string> args : {std::vector<std::string>{"/r", "/dir", "out", "x.png"},
                                          {"/quiet", "/y", "/r", "/dir", "out", "x.png"}}) {
        fs::remove_all(dir_ / "out");
        EXPECT_EQ(Run(args), 1) << args[0];
        EXPECT_NE(err_.str().find(two.string() + "\nOutput file " + (dir_ / "out" / "x.png").string() +
                                  " was already written in this run"),
                  std::string::npos)
            << err_.str();
        EXPECT_FALSE(HasTransparentPixels(dir_ / "out" / "x.png")) << args[0];  // the first result stands
        EXPECT_EQ(ReadBytes(two), second);
    }
    // A result may not land on an input still to be read either.
    const auto first = ReadBytes(dir_ / "one" / "x.png");
    EXPECT_EQ(Run({"/quiet", "/y", "/dir", "two", "one/x.png", "two/x.png"}), 1);
    EXPECT_TRUE(HasTransparentPixels(two));  // optimised in place, not replaced by one/x.png
    EXPECT_EQ(ReadBytes(dir_ / "one" / "x.png"), first);
}

TEST_F(QuilloxProgram, ChunkOnlyCopyInPlaceKeepsTheName) {
    Put("X.PNG", MakePng(kPngRgb, Opaque, {{"tEXt", {'k', 0, 'v'}}}));
    EXPECT_EQ(Run({"/quiet", "/o0", "X.PNG"}), 0);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"X.PNG"});
    EXPECT_EQ(Chunks(dir_ / "X.PNG"), (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
}

TEST_F(QuilloxProgram, FailuresGoToStandardErrorWithExitCodeOne) {
    auto good = MakePng(kPngRgb, Opaque);
    std::vector<uint8_t> cut(good.begin(), good.end() - 20);
    const fs::path damaged = Put("cut.png", cut);
    const fs::path text = Put("not.bmp", {'B', 'M', 1, 2, 3});
    for (const char* option : {"/o0", "/nz"}) {
        EXPECT_EQ(Run({"/quiet", option, "/md", "remove", "all", "cut.png"}), 1) << option;
        EXPECT_NE(err_.str().find(damaged.string() + "\n"), std::string::npos) << option;
        EXPECT_EQ(ReadBytes(damaged), cut);
    }
    EXPECT_EQ(Run({"/o0", "not.bmp"}), 1);
    EXPECT_NE(err_.str().find("Not a PNG file"), std::string::npos);
    EXPECT_EQ(out_.str().find("Not a PNG file"), std::string::npos);

    const fs::path a = Put("a.png", good);
    EXPECT_EQ(Run({"/quiet", "/log", "no/such/log.txt", "a.png"}), 1);
    EXPECT_NE(err_.str().find("Cannot open the log file"), std::string::npos);
    EXPECT_EQ(ReadBytes(a), good);
    EXPECT_EQ(Run({"/quiet", "/log", "log.txt", "a.png"}), 0);
    EXPECT_GT(fs::file_size(dir_ / "log.txt"), 0u);
    EXPECT_EQ(err_.str(), "");
}

TEST_F(QuilloxProgram, BadCrcFailsCriticalAndDropsAncillaryChunks) {
    auto bytes = MakePng(kPngRgb, Opaque, {{"tEXt", {'k', 0, 'v'}}, {"pHYs", {0, 0, 0, 1, 0, 0, 0, 1, 0}}});
    BreakCrc(bytes, "tEXt");
    Put("anc.png", bytes);
    EXPECT_EQ(Run({"/dir", "out", "anc.png"}), 0) << err_.str();
    EXPECT_NE(err_.str().find("tEXt: CRC error, chunk dropped"), std::string::npos);
    EXPECT_EQ(Chunks(dir_ / "out" / "anc.png"), (std::vector<std::string>{"IHDR", "pHYs", "IDAT", "IEND"}));
    EXPECT_EQ(Run({"/y", "/nz", "/md", "remove", "misc", "/dir", "copy", "anc.png"}), 0);
    EXPECT_NE(err_.str().find("tEXt: CRC error, chunk dropped"), std::string::npos);
    EXPECT_EQ(Chunks(dir_ / "copy" / "anc.png"), (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));

    auto critical = MakePng(kPngRgb, Opaque);
    BreakCrc(critical, "IHDR");
    const fs::path crit = Put("crit.png", critical);
    for (const char* option : {"/o1", "/o0"}) {
        EXPECT_EQ(Run({"/quiet", option, "crit.png"}), 1) << option;
        EXPECT_NE(err_.str().find("PNG: bad CRC in chunk IHDR"), std::string::npos) << option;
        EXPECT_EQ(ReadBytes(crit), critical);
    }
}

TEST_F(QuilloxProgram, ChunkNamesAreNotGroupWords) {
    fs::copy_file(jx::test::PngSuiteDir() / "ctzn0g04.png", dir_ / "t.png");  // tEXt and zTXt
    EXPECT_EQ(Run({"/quiet", "/dir", "a", "/md", "keep", "tEXt", "t.png"}), 0);
    EXPECT_EQ(Chunks(dir_ / "a" / "t.png"), (std::vector<std::string>{"IHDR", "gAMA", "tEXt", "tEXt", "IDAT", "IEND"}));
    EXPECT_EQ(Run({"/quiet", "/dir", "b", "/md", "keep", "text", "t.png"}), 0);
    EXPECT_EQ(PngImage::ListChunks(ReadBytes(dir_ / "b" / "t.png")), Chunks(dir_ / "t.png"));
    EXPECT_EQ(Run({"/quiet", "/dir", "c", "/nz", "/md", "remove", "zTXt", "t.png"}), 0);
    EXPECT_EQ(Chunks(dir_ / "c" / "t.png"), (std::vector<std::string>{"IHDR", "gAMA", "tEXt", "tEXt", "IDAT", "IEND"}));
}

// An empty, non-numeric or negative count, amount, quality or method stops the run before any
// file is read, naming the parameter.
TEST_F(QuilloxProgram, AKeyedValueThatIsNoNumberStopsTheRun) {
    const auto bytes = MakePng(kPngRgb, Opaque);
    const fs::path f = Put("f.png", bytes);
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"/quiet", "/jx", "c=", "f.png"}, "c=\nThe option needs a value, and it was empty or missing"},
        {{"/quiet", "/jx", "c=abc", "f.png"}, "/jx: c=abc is not a colour count; nothing was read or written\n"},
        {{"/jx", "c=-5", "f.png"}, "/jx: c=-5 is not a colour count; nothing was read or written\n"},
        {{"/quiet", "/jx", "d=", "f.png"}, "d=\nThe option needs a value"},
        {{"/quiet", "/l", "q=x", "f.png"}, "/l: q=x is not a quality; nothing was read or written\n"},
        {{"/quiet", "-l", "m=", "f.png"}, "m=\nThe option needs a value"}};
    for (const auto& [args, told] : cases) {
        EXPECT_EQ(Run(args), 1) << told;
        EXPECT_NE(err_.str().find(told), std::string::npos) << err_.str();
        EXPECT_EQ(out_.str().find("try..."), std::string::npos);
        EXPECT_EQ(ReadBytes(f), bytes);
        EXPECT_EQ(Names(dir_), std::vector<std::string>{"f.png"});
    }
}

// A shell's "*.png" beside "-l.png" or "-jx.png" hands over files, not lossy settings.
TEST_F(QuilloxProgram, AFileWhoseNameBeginsWithADashIsAFile) {
    const fs::path photo = Loose("basn2c08", "photo.png");
    const auto before = Visible(photo);
    const auto looseSize = fs::file_size(photo);
    for (const char* name : {"-l.png", "-jx.png", "-y.png", "-out.png"}) Loose("basn0g08", name);
    EXPECT_EQ(Run({"/quiet", "-jx.png", "-l.png", "-out.png", "-y.png", "photo.png"}), 0) << err_.str();
    EXPECT_EQ(Visible(photo), before);
    EXPECT_LT(fs::file_size(photo), looseSize);
    for (const char* name : {"-l.png", "-jx.png", "-y.png", "-out.png"})
        EXPECT_LT(fs::file_size(dir_ / name), looseSize) << name;  // optimised like any input
    EXPECT_EQ(Names(dir_).size(), 5u);
}

// Between the read and the replace a newer image is copied over the input: it stays, the run
// fails with a line; also on the chunk-only copy and beside files optimised side by side.
TEST_F(QuilloxProgram, AnInputChangedWhileItIsOptimisedIsLeftAsItIs) {
    const std::vector<uint8_t> newer = MakePng(kPngRgba, Binary);
    std::string changed;
    auto overwrite = [&](const std::string& input) {
        if (NamePart(input) != changed) return;
        jx::test::WriteBytes(input, newer);
    };
    const std::vector<std::vector<std::string>> runs = {
        {"/quiet", "a.png"}, {"a.png"}, {"/quiet", "/o0", "a.png"}, {"/quiet", "a.png", "b.png", "c.png"}};
    for (const auto& args : runs) {
        for (const char* n : {"a.png", "b.png", "c.png"}) Put(n, MakePng(kPngRgb, Opaque, {{"tEXt", {'k', 0, 'v'}}}));
        const auto looseSize = fs::file_size(dir_ / "b.png");
        changed = "a.png";
        hook_ = overwrite;
        EXPECT_EQ(Run(args), 1) << args[1];
        EXPECT_EQ(ReadBytes(dir_ / "a.png"), newer) << args[1];
        EXPECT_NE(err_.str().find((dir_ / "a.png").string() + "\nThe file changed while it was optimised; left as it is\n"),
                  std::string::npos)
            << err_.str();
        if (args.size() == 4) {
            EXPECT_LT(fs::file_size(dir_ / "b.png"), looseSize);  // the others are written
        }
        EXPECT_EQ(Names(dir_), (std::vector<std::string>{"a.png", "b.png", "c.png"}));  // no temporary stays
    }
    // The same size and content but a later time, or another file at the name, count as a change.
    const auto original = MakePng(kPngRgb, Opaque);
    for (int how = 0; how < 2; ++how) {
        const fs::path a = Put("a.png", original);
        hook_ = [&](const std::string& input) {
            struct stat st {};
            ASSERT_EQ(::stat(input.c_str(), &st), 0);
            if (how == 0) {
                const struct timespec later[2] = {st.st_atim, {st.st_mtim.tv_sec + 2, st.st_mtim.tv_nsec}};
                ASSERT_EQ(::utimensat(AT_FDCWD, input.c_str(), later, 0), 0);
            } else {
                const fs::path other = dir_ / "other";
                jx::test::WriteBytes(other, original);
                const struct timespec same[2] = {st.st_atim, st.st_mtim};
                ASSERT_EQ(::utimensat(AT_FDCWD, other.c_str(), same, 0), 0);
                ASSERT_EQ(::rename(other.c_str(), input.c_str()), 0);
            }
        };
        EXPECT_EQ(Run({"/quiet", "a.png"}), 1) << how;
        EXPECT_EQ(ReadBytes(a), original) << how;
        EXPECT_NE(err_.str().find("changed while it was optimised"), std::string::npos) << how;
    }
    // Unchanged, it is replaced.
    hook_ = [](const std::string&) {};
    EXPECT_EQ(Run({"/quiet", "a.png"}), 0) << err_.str();
    EXPECT_LT(fs::file_size(dir_ / "a.png"), original.size());
}

// "/o0", "/nz /md" and "/md keep all" go over every file; "/o" before a file name refuses the run.
TEST_F(QuilloxProgram, EveryNamedFileIsProcessedOrTold) {
    const std::vector<uint8_t> withText = MakePng(kPngRgb, Opaque, {{"tEXt", {'k', 0, 'v'}}});
    for (const char* n : {"a.png", "b.png", "c.png"}) Put(n, withText);
    EXPECT_EQ(Run({"/nz", "/md", "keep", "all", "a.png", "b.png", "c.png"}), 0) << err_.str();
    for (const char* n : {"a.png", "b.png", "c.png"}) EXPECT_EQ(ReadBytes(dir_ / n), withText) << n;
    EXPECT_EQ(Run({"/quiet", "/o0", "a.png", "b.png", "c.png"}), 0) << err_.str();
    for (const char* n : {"a.png", "b.png", "c.png"})
        EXPECT_EQ(Chunks(dir_ / n), (std::vector<std::string>{"IHDR", "IDAT", "IEND"})) << n;

    for (const char* n : {"a.png", "b.png"}) Put(n, withText);
    for (const std::vector<std::string>& args : {std::vector<std::string>{"/quiet", "/o", "a.png", "b.png"},
                                                 {"-o", "a.png", "b.png"}}) {
        EXPECT_EQ(Run(args), 1);
        EXPECT_EQ(err_.str(), args[args.size() - 3] + ": a.png is not a level; nothing was read or written\n");
        EXPECT_EQ(ReadBytes(dir_ / "a.png"), withText);
        EXPECT_EQ(ReadBytes(dir_ / "b.png"), withText);
    }
    // Under "/out" a name that is no file leaves every input out, each told.
    ASSERT_EQ(::mkfifo((dir_ / "pipe.png").c_str(), 0600), 0);
    EXPECT_EQ(Run({"/quiet", "/out", "r.png", "pipe.png", "a.png"}), 1);
    EXPECT_NE(err_.str().find((dir_ / "a.png").string() + "\nLeft out: \"/out\" names one output file"), std::string::npos)
        << err_.str();
    EXPECT_FALSE(fs::exists(dir_ / "r.png"));
}

// "/log" followed by a shell's "*.png" would append text to the first PNG.
TEST_F(QuilloxProgram, TheLogIsNeverWrittenIntoAnImage) {
    const auto bytes = MakePng(kPngRgb, Opaque);
    const fs::path a = Put("a.png", bytes), b = Put("b.png", bytes);
    Put("c.bmp", MakeBmp(4, 4));
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"/quiet", "/log", "a.png", "b.png"}, a.string() + "\nThe log file is an image; nothing was read or written\n"},
        {{"/quiet", "/log", "b.png", "b.png"}, b.string() + "\nThe log file is one of the images of this run"},
        {{"/quiet", "/log", "c.bmp.png", "c.bmp"}, (dir_ / "c.bmp.png").string() + "\nThe log file is one of the images"},
        {{"/quiet", "/log", "r.png", "/out", "r", "a.png"}, (dir_ / "r.png").string() + "\nThe log file is one of the images"},
        {{"/quiet", "/log", "c.bmp", "b.png"}, (dir_ / "c.bmp").string() + "\nThe log file is an image"}};
    for (const auto& [args, told] : cases) {
        EXPECT_EQ(Run(args), 1) << told;
        EXPECT_NE(err_.str().find(told), std::string::npos) << err_.str();
        EXPECT_EQ(ReadBytes(a), bytes);
        EXPECT_EQ(ReadBytes(b), bytes);
        EXPECT_EQ(Names(dir_), (std::vector<std::string>{"a.png", "b.png", "c.bmp"}));
    }
}

// A link to nothing at an output's name is an existing output: asked about, or under "/quiet"
// skipped with its cause; nothing is created where it points.
TEST_F(QuilloxProgram, ADanglingLinkAtAnOutputIsAnExistingOutput) {
    fs::create_directories(dir_ / "A");
    Put("B/c.bmp", MakeBmp(4, 4));
    Put("B/d.bmp", MakeBmp(4, 4));
    fs::create_symlink("../A/elsewhere.png", dir_ / "B" / "c.bmp.png");
    const std::string link = (dir_ / "B" / "c.bmp.png").string();
    for (const std::vector<std::string>& args : {std::vector<std::string>{"/quiet", "B/c.bmp"},
                                                 {"/quiet", "B/c.bmp", "B/d.bmp"}}) {
        fs::remove(dir_ / "B" / "d.bmp.png");
        EXPECT_EQ(Run(args), 1);
        EXPECT_NE(err_.str().find(link + "\nThe name is a link that leads to no file and was not written through"),
                  std::string::npos)
            << err_.str();
        EXPECT_TRUE(fs::is_empty(dir_ / "A"));
        EXPECT_TRUE(fs::is_symlink(link));
    }
    EXPECT_TRUE(fs::exists(dir_ / "B" / "d.bmp.png"));
    EXPECT_EQ(Run({"B/c.bmp"}, "n\n"), 1);
    EXPECT_NE(err_.str().find(link + ": Do you really want to overwrite the existing file? (y/n):"), std::string::npos);
    EXPECT_EQ(out_.str().find("Do you really"), std::string::npos);  // a report sent to a file hides no question
    EXPECT_TRUE(fs::is_empty(dir_ / "A"));
}

std::vector<uint8_t> WithChunk(std::vector<uint8_t> png, const std::string& name, std::vector<uint8_t> data) {
    std::vector<uint8_t> c = {uint8_t(data.size() >> 24), uint8_t(data.size() >> 16), uint8_t(data.size() >> 8),
                              uint8_t(data.size())};
    c.insert(c.end(), name.begin(), name.end());
    c.insert(c.end(), data.begin(), data.end());
    const uLong crc = crc32(0, c.data() + 4, uInt(c.size() - 4));
    for (int shift : {24, 16, 8, 0}) c.push_back(uint8_t(crc >> shift));
    png.insert(png.end() - 12, c.begin(), c.end());
    return png;
}

TEST_F(QuilloxProgram, SmallMendsOfOutputsAndReports) {
    const fs::path a = Put("a.png", MakePng(kPngRgb, Opaque));
    ASSERT_EQ(Run({"/quiet", "a.png"}), 0);
    const auto optimal = ReadBytes(a);
    // "/out x" is "x.png" also when the input is copied as already optimal.
    EXPECT_EQ(Run({"/quiet", "/out", "x", "a.png"}), 0) << err_.str();
    EXPECT_EQ(ReadBytes(dir_ / "x.png"), optimal);
    EXPECT_FALSE(fs::exists(dir_ / "x"));
    fs::remove(dir_ / "x.png");
    // "/out" with "/dir", or naming an existing folder, is refused before anything is made.
    EXPECT_EQ(Run({"/quiet", "/out", "x.png", "/dir", "d", "a.png"}), 1);
    EXPECT_NE(err_.str().find("\"/out\" names one output file and \"/dir\" a folder"), std::string::npos) << err_.str();
    fs::create_directory(dir_ / "results");
    EXPECT_EQ(Run({"/quiet", "/out", "results", "a.png"}), 1);
    EXPECT_NE(err_.str().find("The output file names a folder"), std::string::npos) << err_.str();
    EXPECT_EQ(Names(dir_), (std::vector<std::string>{"a.png", "results"}));
    EXPECT_TRUE(fs::is_empty(dir_ / "results"));
    EXPECT_EQ(ReadBytes(a), optimal);

    // The chunk-only copy refuses what the other levels refuse.
    std::vector<uint8_t> depth99 = MakePng(kPngRgb, Opaque);
    depth99[24] = 99;
    const uLong crc = crc32(0, depth99.data() + 12, 17);
    for (int i = 0; i < 4; ++i) depth99[29 + i] = uint8_t(crc >> (24 - 8 * i));
    std::vector<uint8_t> noData = MakePng(kPngRgb, Opaque);
    for (size_t at = 8; at + 8 <= noData.size();) {
        const size_t length = size_t(noData[at]) << 24 | size_t(noData[at + 1]) << 16 | size_t(noData[at + 2]) << 8 | noData[at + 3];
        if (std::string(noData.begin() + long(at) + 4, noData.begin() + long(at) + 8) == "IDAT")
            noData.erase(noData.begin() + long(at), noData.begin() + long(at + length + 12));
        else at += length + 12;
    }
    for (const auto& [name, bytes] : {std::pair{"depth.png", depth99}, {"nodata.png", noData}}) {
        Put(name, bytes);
        for (const char* level : {"/o0", "/o1"}) {
            EXPECT_EQ(Run({"/quiet", level, name}), 1) << name << level;
            EXPECT_NE(err_.str().find((dir_ / name).string() + "\nPNG: "), std::string::npos) << err_.str();
            EXPECT_EQ(ReadBytes(dir_ / name), bytes) << name;
        }
    }

    // Bytes after IEND are told as dropped.
    std::vector<uint8_t> tail = MakePng(kPngRgb, Opaque);
    for (uint8_t b : {'j', 'u', 'n', 'k'}) tail.push_back(b);
    Put("tail.png", tail);
    EXPECT_EQ(Run({"/dir", "out", "tail.png"}), 0) << err_.str();
    EXPECT_NE(err_.str().find((dir_ / "tail.png").string() + "\n4 bytes after the IEND chunk are dropped\n"),
              std::string::npos)
        << err_.str();
    const auto written = ReadBytes(dir_ / "out" / "tail.png");
    EXPECT_EQ(std::string(written.end() - 8, written.end() - 4), "IEND");

    // The nearest background is told only for a file written, not for one refused.
    Put("bk.png", WithChunk(MakePng(kPngRgb, Opaque), "bKGD", {0, 1, 0, 2, 0, 3}));
    Put("out/bk.png", {1});
    EXPECT_EQ(Run({"/jx", "c=16", "/dir", "out", "bk.png"}, "n\n"), 1);
    EXPECT_EQ(err_.str().find("nearest"), std::string::npos) << err_.str();
    EXPECT_EQ(Run({"/jx", "c=16", "/dir", "out", "bk.png"}, "y\n"), 0);
    EXPECT_NE(err_.str().find("bKGD: the palette is full, the nearest colour stands in"), std::string::npos) << err_.str();
}

// A PPM holding a second image (or a size damaged smaller): converted from the first, the report
// names what was left unread, and the exit code is that of a sound file.
TEST_F(QuilloxProgram, PpmDataPastTheImageIsReported) {
    std::string ppm = "P6\n2 2\n255\n";
    for (int i = 0; i < 12; ++i) ppm.push_back(char(10 * i));
    Put("one.ppm", std::vector<uint8_t>(ppm.begin(), ppm.end()));
    const std::string two = ppm + ppm;
    Put("two.ppm", std::vector<uint8_t>(two.begin(), two.end()));
    EXPECT_EQ(Run({"/dir", "out", "one.ppm"}), 0);
    EXPECT_EQ(err_.str(), "");
    EXPECT_EQ(Run({"/dir", "out", "two.ppm"}), 0);
    EXPECT_NE(err_.str().find("holds more data than one 2x2 image; only the first is read"), std::string::npos)
        << err_.str();
    EXPECT_EQ(ReadPng(ReadBytes(dir_ / "out" / "two.ppm.png"), ReadSettings{}).rgba,
              ReadPng(ReadBytes(dir_ / "out" / "one.ppm.png"), ReadSettings{}).rgba);
}

}  // namespace
}  // namespace jx::quillox
