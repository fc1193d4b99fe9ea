#include "edit/batch.h"

#include <zlib.h>

#include <set>

#include "common/animated_gif.h"
#include "edit_test_util.h"
#include "fileio/open_decoders.h"
#include "imaging/color_space.h"
#include "platform/file_times.h"

namespace jx {
namespace {
namespace fs = std::filesystem;
using test::ReadBytes;
using test::ScratchFolder;
using test::WriteBytes;

// A 24-bit bitmap: large for its content, so its PNG always pays.
std::vector<uint8_t> Bmp(int w, int h, int seed = 0) {
    TClipboardBitmap b{w, h, {}};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) b.Bgr.push_back(static_cast<uint8_t>((x / 4 * 40 + c * 70 + seed) & 0xF0));
    return EncodeBmp24(b);
}

// A suite PNG that jx cannot beat (1-bit palette) and one stored without compression.
std::vector<uint8_t> TightPng() { return ReadBytes(test::PngSuiteDir() / "basn3p01.png"); }
std::vector<uint8_t> LoosePng() { return ReadBytes(test::PngSuiteDir() / "z00n2c08.png"); }

class BatchRun : public ::testing::Test {
protected:
    ScratchFolder tree, session;
    EngineState state;
    CancelFlag stop;
    TBatchOptions options;

    void SetUp() override {
        state.ColorConverter = ConvertLab;
        options.SessionFolder = session.Path();
        options.Png.level = 0;
    }
    std::string Put(const std::string& rel, const std::vector<uint8_t>& bytes) {
        const fs::path p = fs::path(tree.Path()) / rel;
        fs::create_directories(p.parent_path());
        WriteBytes(p, bytes);
        return p.string();
    }
    TBatchRowResult Row(const std::string& path) {
        return ProcessBatchRow(state, *MakeBatchItem(path), options, stop);
    }
    static bool Decodes(const std::string& p) {
        try {
            return !DecodePngFile(p).Pixels.Empty();
        } catch (...) {
            return false;
        }
    }
};

TEST(BatchList, ExtensionsMatchWholeAndInAnyCase) {
    for (const char* ok : {"a.png", "b.PNG", "c.Jpeg", "d.jpg", "e.gif", "f.bmp", "g.tga", "h.WebP"})
        EXPECT_TRUE(BatchExtensionPasses(ok)) << ok;
    for (const char* no : {"a.jp", "b.p", "c", "d.pngx", "e.ico", ".png.txt"}) EXPECT_FALSE(BatchExtensionPasses(no)) << no;
}

TEST(BatchList, ScanRecursesWithoutFollowingFolderLinksAndStopsOnAbort) {
    ScratchFolder t;
    const fs::path root = t.Path();
    fs::create_directories(root / "sub" / "deeper");
    for (const char* f : {"b.png", "a.BMP", "note.txt", "sub/c.gif", "sub/deeper/d.jpeg"}) WriteBytes(root / f, {1, 2, 3});
    fs::create_directory_symlink(root, root / "sub" / "loop");  // would never end if followed
    fs::create_symlink(root / "b.png", root / "sub" / "link.png");

    std::vector<TBatchItem> rows;
    ScanBatchFolder(root.string(), rows);
    std::vector<std::string> names;
    for (const auto& r : rows) names.push_back(r.Name);
    EXPECT_EQ(names, (std::vector<std::string>{"a.BMP", "b.png", "c.gif", "d.jpeg", "link.png"}));
    EXPECT_EQ(rows[1].Size, 3);

    // Command line: a folder is scanned, a file added, a missing name or other extension adds nothing.
    rows.clear();
    AddBatchPaths({(root / "sub").string(), (root / "b.png").string(), (root / "gone.png").string(),
                   (root / "note.txt").string()},
                  rows);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[3].Path, (root / "b.png").string());

    CancelFlag abort;
    abort.Request();
    rows.clear();
    ScanBatchFolder(root.string(), rows, &abort);
    EXPECT_TRUE(rows.empty());
}

TEST(BatchList, ContainmentComparesWholeComponents) {
    EXPECT_TRUE(FolderContains("/pics", "/pics/x/y.png"));
    EXPECT_TRUE(FolderContains("/pics/", "/pics"));
    EXPECT_FALSE(FolderContains("/pics", "/pics2/x"));
    EXPECT_FALSE(FolderContains("/pics/x", "/pics"));

    EXPECT_EQ(BatchOutputFolder("/pics/cats/a.bmp", ""), "/pics/cats");
    EXPECT_EQ(BatchOutputFolder("/pics/cats/a.bmp", "/pics"), "/pics");          // destination holds the source
    EXPECT_EQ(BatchOutputFolder("/pics/a.bmp", "/pics/out"), "/pics/out");       // and the reverse
    EXPECT_EQ(BatchOutputFolder("/pics2/cats/a.bmp", "/pics"), "/pics/cats");    // unrelated: parent's name
    EXPECT_EQ(BatchOutputName("Photo.Final.BMP"), "Photo.Final.png");
    EXPECT_EQ(BatchOutputName("Photo.PNG"), "Photo.PNG");

    ScratchFolder t;
    EXPECT_EQ(CheckBatchStart("", true), TBatchStartCheck::AskNoDestination);
    EXPECT_EQ(CheckBatchStart("", false), TBatchStartCheck::Go);
    EXPECT_EQ(CheckBatchStart(t.Path() + "missing", false), TBatchStartCheck::DestinationMissing);
    EXPECT_EQ(CheckBatchStart(t.Path(), true), TBatchStartCheck::Go);
}

// Quantizing into a source's own folder overwrites in place as an empty destination does, so it
// asks the same question, whatever spelling names that folder.
TEST(BatchList, QuantizingIntoASourceFolderAsksHoweverTheFolderIsSpelled) {
    ScratchFolder t;
    const fs::path root = t.Path();
    fs::create_directories(root / "pics" / "sub");
    fs::create_directory(root / "other");
    fs::create_directory_symlink(root / "pics", root / "alias");
    const std::vector<std::string> sources = {(root / "pics" / "a.png").string(), (root / "other" / "b.bmp").string()};
    for (const std::string& same : {root.string() + "pics", root.string() + "pics/", root.string() + "pics/./",
                                    root.string() + "pics/sub/..", root.string() + "other/../pics",
                                    root.string() + "alias", root.string() + "other//"}) {
        EXPECT_EQ(CheckBatchStart(same, true, sources), TBatchStartCheck::AskNoDestination) << same;
        EXPECT_EQ(CheckBatchStart(same, false, sources), TBatchStartCheck::Go) << same;
    }
    // A destination above, below or beside every source folder writes no source's own folder.
    for (const std::string& apart : {root.string(), root.string() + "pics/sub"})
        EXPECT_EQ(CheckBatchStart(apart, true, sources), TBatchStartCheck::Go) << apart;
    // A source named through a folder link is in the link's target.
    EXPECT_EQ(CheckBatchStart(root.string() + "pics", true, {(root / "alias" / "c.png").string()}),
              TBatchStartCheck::AskNoDestination);
    EXPECT_EQ(CheckBatchStart(root.string() + "missing", true, sources), TBatchStartCheck::DestinationMissing);
}

// A folder or file added again, under any spelling of its folder, adds no second row; a link to
// a file stays a row of its own, as its output lands beside the link.
TEST(BatchList, EveryFileIsListedOnce) {
    ScratchFolder t;
    const fs::path root = t.Path();
    fs::create_directory(root / "in");
    for (const char* f : {"in/a.png", "in/b.bmp"}) WriteBytes(root / f, {1, 2, 3});
    fs::create_symlink(root / "in" / "a.png", root / "in" / "link.png");
    fs::create_directory_symlink(root / "in", root / "alias");
    std::vector<TBatchItem> rows;
    AddBatchPaths({(root / "in").string()}, rows);
    ASSERT_EQ(rows.size(), 3u);
    AddBatchPaths({(root / "in").string(), root.string() + "in/", root.string() + "./in/../in",
                   (root / "alias").string(), (root / "in" / "a.png").string(), root.string() + "in//b.bmp"},
                  rows);
    std::vector<std::string> names;
    for (const auto& r : rows) names.push_back(r.Name);
    EXPECT_EQ(names, (std::vector<std::string>{"a.png", "b.bmp", "link.png"}));

    // One call that names a folder twice lists it once; the open dialog's picks are filtered alike.
    rows.clear();
    AddBatchPaths({(root / "in").string(), (root / "in").string()}, rows);
    EXPECT_EQ(rows.size(), 3u);
    std::vector<TBatchItem> picked{*MakeBatchItem((root / "alias" / "b.bmp").string()),
                                   *MakeBatchItem((root / "in" / "link.png").string())};
    DropListedRows({rows[0], rows[1]}, picked);
    ASSERT_EQ(picked.size(), 1u);
    EXPECT_EQ(picked[0].Name, "link.png");
}

TEST(BatchList, CollisionsKnowTheSameFileBySpellingAndLinks) {
    ScratchFolder t;
    const std::string src = t.Path() + "a.png", other = t.Path() + "b.png";
    WriteBytes(src, {1});
    WriteBytes(other, {2});
    fs::create_symlink(src, t.Path() + "link.png");
    fs::create_hard_link(src, t.Path() + "hard.png");
    fs::create_symlink(t.Path() + "nowhere", t.Path() + "dangling.png");
    for (const char* same : {"./a.png", "link.png", "hard.png", "free.png"})
        EXPECT_FALSE(BatchOutputCollides(t.Path() + same, src)) << same;
    EXPECT_TRUE(BatchOutputCollides(other, src));
    EXPECT_TRUE(BatchOutputCollides(t.Path() + "dangling.png", src));
}

TEST(BatchCells, RowAndTotalsTexts) {
    TBatchRowResult kept{TBatchOutcome::Kept, 1000, 625, "1.25", "", {}};
    EXPECT_EQ(BatchOutCell(kept), "625");
    EXPECT_EQ(BatchRatioCell(kept), "62%");  // 62.5 rounds to even
    TBatchRowResult err{TBatchOutcome::Error, 10, 0, "broken", "", {}};
    EXPECT_EQ(BatchOutCell(err), "error");
    EXPECT_EQ(BatchLossCell(err), "broken");
    EXPECT_EQ(BatchRatioCell({TBatchOutcome::Skipped, 5, 9, "", "", {}}), "skip");
    // A source with frames is kept whatever became of the row; its text says so.
    TBatchRowResult animated{TBatchOutcome::Kept, 1000, 625, "1.25", "", {"a.gif: frames"}, true};
    EXPECT_EQ(BatchLossCell(animated), "1.25; the source is kept");
    animated.Outcome = TBatchOutcome::Skipped;
    animated.Loss.clear();
    EXPECT_EQ(BatchLossCell(animated), "the source is kept");
    EXPECT_EQ(BatchRatioCell(animated), "skip");

    const auto cells = BatchTotalsCells({4, 1, 1, 3000, 1000, false});
    EXPECT_EQ(cells, (std::array<std::string, 7>{"4 ", "1 ", "1 ", "3000 ", "1000 ", "2000 ", "33.33% "}));
}

TEST_F(BatchRun, KeepsOnlySmallerResultsAndLeavesSkippedSourcesAlone) {
    const std::string bmp = Put("Photo.BMP", Bmp(40, 30));
    const std::string tight = Put("tight.png", TightPng());
    options.DeleteSource = true;  // without a destination a skipped source still stays

    const TBatchRowResult k = Row(bmp);
    EXPECT_EQ(k.Outcome, TBatchOutcome::Kept) << k.Loss;
    EXPECT_EQ(k.Output, tree.Path() + "Photo.png");
    EXPECT_TRUE(Decodes(k.Output));
    EXPECT_FALSE(fs::exists(bmp));
    EXPECT_LT(k.NewSize, k.OldSize);
    EXPECT_EQ(k.Loss, "0.00");

    const auto before = ReadBytes(tight);
    const TBatchRowResult s = Row(tight);
    EXPECT_EQ(s.Outcome, TBatchOutcome::Skipped) << s.Loss;
    EXPECT_EQ(ReadBytes(tight), before);
}

TEST_F(BatchRun, APngReplacesItselfUnderAnySpellingAndIsNeverDeleted) {
    const std::string loose = Put("loose.png", LoosePng());
    const int64_t stamp = 1'000'000'000'123'456'789;
    SetFileModificationTime(loose, stamp);
    options.DeleteSource = true;
    options.PreserveDateTime = true;
    const TBatchRowResult r = Row(tree.Path() + "./loose.png");
    ASSERT_EQ(r.Outcome, TBatchOutcome::Kept) << r.Loss;
    ASSERT_TRUE(fs::exists(loose));
    EXPECT_TRUE(Decodes(loose));
    EXPECT_LT(fs::file_size(loose), LoosePng().size());
    EXPECT_EQ(FileModificationTime(loose), stamp);
}

// Another program saves over a source while its row runs (here from the row's own event pump,
// once the scratch output is written): the row holds the old picture, so the source, now the new
// one, is neither replaced nor deleted, and the row says why.
TEST_F(BatchRun, ASourceChangedDuringItsRowIsNeitherReplacedNorDeleted) {
    const std::vector<uint8_t> fresh = Bmp(48, 20, 7);
    const std::string temp = options.SessionFolder + kBatchTempName;
    bool changed = false;
    std::function<void(const std::string&)> change;
    const auto pump = [&](const std::string& source) {
        return [&, source] {
            if (changed || !fs::exists(temp)) return;
            changed = true;
            change(source);
        };
    };
    const auto inPlace = [&](const std::string& source) { WriteBytes(source, fresh); };
    const auto renamed = [&](const std::string& source) {
        WriteBytes(source + ".new", fresh);
        fs::rename(source + ".new", source);
    };

    // No destination: the PNG would be replaced by its own output.
    for (const auto& how : {std::function<void(const std::string&)>(inPlace), std::function<void(const std::string&)>(renamed)}) {
        const std::string loose = Put("loose.png", LoosePng());
        changed = false;
        change = how;
        const TBatchRowResult r = ProcessBatchRow(state, *MakeBatchItem(loose), options, stop, pump(loose));
        ASSERT_TRUE(changed);
        EXPECT_EQ(r.Outcome, TBatchOutcome::Error);
        EXPECT_EQ(r.Loss, loose + " was not replaced: it changed while its row ran");
        EXPECT_EQ(BatchOutCell(r), "error");
        EXPECT_EQ(ReadBytes(loose), fresh);
    }

    // A destination and "Delete source": the output of the picture read is written, the source stays.
    ScratchFolder dest;
    options.Destination = dest.Path();
    options.DeleteSource = true;
    for (const auto& how : {std::function<void(const std::string&)>(inPlace), std::function<void(const std::string&)>(renamed)}) {
        const std::string bmp = Put("sub/photo.bmp", Bmp(40, 30));
        changed = false;
        change = how;
        const TBatchRowResult r = ProcessBatchRow(state, *MakeBatchItem(bmp), options, stop, pump(bmp));
        ASSERT_TRUE(changed);
        EXPECT_EQ(r.Outcome, TBatchOutcome::Kept) << r.Loss;
        EXPECT_TRUE(Decodes(r.Output));
        EXPECT_EQ(DecodePngFile(r.Output).Pixels.Width(), 40);
        EXPECT_EQ(r.Loss, "0.00; " + bmp + " was not deleted: it changed while its row ran");
        EXPECT_EQ(ReadBytes(bmp), fresh);
        fs::remove(r.Output);
    }

    // Unchanged, the same row deletes its source.
    const std::string bmp = Put("sub/photo.bmp", Bmp(40, 30));
    changed = true;
    const TBatchRowResult r = ProcessBatchRow(state, *MakeBatchItem(bmp), options, stop, pump(bmp));
    EXPECT_EQ(r.Outcome, TBatchOutcome::Kept) << r.Loss;
    EXPECT_EQ(r.Loss, "0.00");
    EXPECT_FALSE(fs::exists(bmp));
}

TEST_F(BatchRun, ADamagedSourceMarksItsRowAndIsNeverDeleted) {
    // The loose PNG with a tEXt chunk whose CRC is wrong, after IHDR: it opens, the chunk dropped.
    std::vector<uint8_t> bytes = LoosePng();
    const std::vector<uint8_t> text{0, 0, 0, 3, 't', 'E', 'X', 't', 'a', 0, 'b', 1, 2, 3, 4};
    bytes.insert(bytes.begin() + 33, text.begin(), text.end());
    const std::string damaged = Put("in/damaged.png", bytes);
    options.DeleteSource = true;
    options.Destination = tree.Path() + "out";
    fs::create_directories(options.Destination);
    const TBatchRowResult r = Row(damaged);
    ASSERT_EQ(r.Outcome, TBatchOutcome::Kept) << r.Loss;
    EXPECT_EQ(r.Warnings, (std::vector<std::string>{"damaged.png: chunk tEXt has a bad CRC and was left out"}));
    EXPECT_TRUE(Decodes(r.Output));
    EXPECT_EQ(ReadBytes(damaged), bytes);
    // A sound source of the same kind is marked with nothing and deleted as asked.
    const std::string sound = Put("in/sound.png", LoosePng());
    const TBatchRowResult s = Row(sound);
    ASSERT_EQ(s.Outcome, TBatchOutcome::Kept) << s.Loss;
    EXPECT_TRUE(s.Warnings.empty());
    EXPECT_FALSE(fs::exists(sound));
}

// An animated GIF opens as one picture of its frames: converting it may pay, but the GIF is never
// deleted, and the row says why. A GIF of one frame is deleted as asked.
TEST_F(BatchRun, AnAnimatedGifIsConvertedButNeverDeleted) {
    const std::string anim = Put("in/anim.gif", {});
    test::WriteAnimatedGif(anim, 60, 40, 3);
    const auto bytes = ReadBytes(anim);
    options.DeleteSource = true;
    const TBatchRowResult r = Row(anim);
    ASSERT_TRUE(r.Outcome == TBatchOutcome::Kept || r.Outcome == TBatchOutcome::Skipped) << r.Loss;
    EXPECT_EQ(ReadBytes(anim), bytes);
    EXPECT_EQ(r.Warnings, (std::vector<std::string>{"anim.gif: 3 frames drawn as one still picture; the source is kept"}));

    // Into a destination, whether the result is kept or the GIF itself is copied there.
    options.Destination = tree.Path() + "out";
    fs::create_directory(options.Destination);
    const TBatchRowResult d = Row(anim);
    ASSERT_TRUE(d.Outcome == TBatchOutcome::Kept || d.Outcome == TBatchOutcome::Skipped) << d.Loss;
    EXPECT_TRUE(fs::exists(d.Output));
    EXPECT_EQ(ReadBytes(anim), bytes);
    EXPECT_EQ(d.Warnings.size(), 1u);

    const std::string still = Put("in/still.gif", {});
    test::WriteAnimatedGif(still, 60, 40, 1);
    const TBatchRowResult s = Row(still);
    ASSERT_TRUE(s.Outcome == TBatchOutcome::Kept || s.Outcome == TBatchOutcome::Skipped) << s.Loss;
    EXPECT_TRUE(s.Warnings.empty());
    EXPECT_FALSE(fs::exists(still));
}

// An animated PNG opens as its still image: with no destination its result would replace it, so it
// stays as it is; into a destination the still image is written and the source kept.
TEST_F(BatchRun, AnAnimatedPngIsNeverReplacedOrDeleted) {
    std::vector<uint8_t> png = LoosePng();  // its result always pays
    std::vector<uint8_t> actl = {0, 0, 0, 8, 'a', 'c', 'T', 'L', 0, 0, 0, 3, 0, 0, 0, 0};
    const uLong crc = crc32(0, actl.data() + 4, static_cast<uInt>(actl.size() - 4));
    for (int shift = 24; shift >= 0; shift -= 8) actl.push_back(static_cast<uint8_t>(crc >> shift));
    png.insert(png.begin() + 33, actl.begin(), actl.end());  // after the signature and IHDR
    const std::string anim = Put("in/anim.png", png);
    options.DeleteSource = true;
    const TBatchRowResult r = Row(anim);
    EXPECT_EQ(r.Outcome, TBatchOutcome::Skipped) << r.Loss;
    EXPECT_EQ(ReadBytes(anim), png);
    EXPECT_EQ(r.Warnings, (std::vector<std::string>{
                              "anim.png: an animation of 3 frames, of which only the still image is converted; "
                              "the source is kept"}));

    options.Destination = tree.Path() + "out";
    fs::create_directory(options.Destination);
    const TBatchRowResult d = Row(anim);
    EXPECT_EQ(d.Outcome, TBatchOutcome::Kept) << d.Loss;
    EXPECT_TRUE(Decodes(d.Output));
    EXPECT_EQ(ReadBytes(anim), png);

    // A still PNG is still optimised in place.
    const std::string still = Put("in/still.png", LoosePng());
    options.Destination.clear();
    const TBatchRowResult s = Row(still);
    EXPECT_EQ(s.Outcome, TBatchOutcome::Kept) << s.Loss;
    EXPECT_LT(fs::file_size(still), LoosePng().size());
}

TEST_F(BatchRun, AnOutputNeverOverwritesAnotherFile) {
    const std::string bmp = Put("photo.bmp", Bmp(40, 30));
    const std::string taken = Put("photo.png", TightPng());
    options.DeleteSource = true;
    const TBatchRowResult r = Row(bmp);
    EXPECT_EQ(r.Outcome, TBatchOutcome::Error);
    EXPECT_NE(r.Loss.find("already exists"), std::string::npos);
    EXPECT_EQ(ReadBytes(taken), TightPng());
    EXPECT_TRUE(fs::exists(bmp));

    // Two sources of one output name in one run: the second is refused, both sources stay.
    ScratchFolder other;
    const std::string a = other.Path() + "a.bmp", b = other.Path() + "a.BMP";
    WriteBytes(a, Bmp(40, 30, 1));
    WriteBytes(b, Bmp(40, 30, 2));
    std::vector<TBatchItem> rows{*MakeBatchItem(a), *MakeBatchItem(b)};
    const TBatchTotals t = RunBatch(state, rows, options, stop);
    EXPECT_EQ(t.Errors, 1);
    EXPECT_TRUE(fs::exists(b));
    EXPECT_TRUE(rows[1].Checked);
    EXPECT_FALSE(rows[0].Checked);
}

// Outputs go beside the name the user gave: a linked source's beside the link, and a name that
// differs only in the extension's case is the same output.
TEST_F(BatchRun, OutputsLieBesideTheNameGivenWhateverTheCase) {
    const std::string real = Put("real/Photo.bmp", Bmp(40, 30));
    fs::create_directory(tree.Path() + "look");
    fs::create_symlink("../real/Photo.bmp", tree.Path() + "look/link.bmp");
    const TBatchRowResult l = Row(tree.Path() + "look/link.bmp");
    ASSERT_EQ(l.Outcome, TBatchOutcome::Kept) << l.Loss;
    EXPECT_EQ(l.Output, tree.Path() + "look/link.png");
    EXPECT_TRUE(Decodes(l.Output));
    EXPECT_EQ(ReadBytes(real), Bmp(40, 30));
    EXPECT_EQ(std::distance(fs::directory_iterator(tree.Path() + "real"), fs::directory_iterator()), 1);

    ScratchFolder cased;
    const std::string upper = cased.Path() + "Loose.PNG";
    WriteBytes(upper, LoosePng());
    const TBatchRowResult u = Row(upper);
    ASSERT_EQ(u.Outcome, TBatchOutcome::Kept) << u.Loss;
    EXPECT_EQ(cased.Files(), std::vector<std::string>{"Loose.PNG"});  // replaced, nothing beside it
    EXPECT_LT(fs::file_size(upper), LoosePng().size());

    // Another file under the other case is a taken output name: refused, both kept.
    const std::string bmp = cased.Path() + "Loose.bmp";
    WriteBytes(bmp, Bmp(40, 30));
    const auto kept = ReadBytes(upper);
    const TBatchRowResult b = Row(bmp);
    EXPECT_EQ(b.Outcome, TBatchOutcome::Error);
    EXPECT_NE(b.Loss.find("Loose.PNG already exists"), std::string::npos) << b.Loss;
    EXPECT_EQ(ReadBytes(upper), kept);
    EXPECT_TRUE(fs::exists(bmp));
    EXPECT_EQ(cased.Files().size(), 2u);

    // A write-protected source is not replaced by its smaller self.
    const std::string loose = cased.Path() + "again.png";
    WriteBytes(loose, LoosePng());
    ASSERT_EQ(::chmod(loose.c_str(), 0444), 0);
    const TBatchRowResult p = Row(loose);
    EXPECT_EQ(p.Outcome, TBatchOutcome::Error);
    EXPECT_NE(p.Loss.find("write-protected"), std::string::npos) << p.Loss;
    EXPECT_EQ(ReadBytes(loose), LoosePng());
}

TEST_F(BatchRun, SkippedFilesGoToTheDestinationButNeverOntoThemselves) {
    const std::string tight = Put("cats/tight.png", TightPng());
    const int64_t stamp = 1'200'000'000'000'000'000;
    SetFileModificationTime(tight, stamp);
    options.DeleteSource = true;
    options.PreserveDateTime = true;

    // The destination is the source folder: no copy onto itself, no delete.
    options.Destination = tree.Path() + "cats";
    EXPECT_EQ(Row(tight).Outcome, TBatchOutcome::Skipped);
    EXPECT_EQ(ReadBytes(tight), TightPng());

    // Elsewhere: copied into the parent's name, the time kept, then the source goes.
    ScratchFolder dest;
    options.Destination = dest.Path();
    const TBatchRowResult r = Row(tight);
    EXPECT_EQ(r.Outcome, TBatchOutcome::Skipped) << r.Loss;
    const std::string copy = dest.Path() + "cats/tight.png";
    EXPECT_EQ(r.Output, copy);
    EXPECT_EQ(ReadBytes(copy), TightPng());
    EXPECT_EQ(FileModificationTime(copy), stamp);
    EXPECT_FALSE(fs::exists(tight));
}

TEST_F(BatchRun, AFailedRowNeverSavesTheLastImageOrTouchesItsSource) {
    const std::string good = Put("good.bmp", Bmp(40, 30));
    const std::string broken = Put("broken.bmp", std::vector<uint8_t>(2000, 'x'));
    const std::string empty = Put("empty.bmp", {});
    const std::string gone = Put("gone.bmp", Bmp(8, 8));
    std::vector<TBatchItem> rows{*MakeBatchItem(good), *MakeBatchItem(broken), *MakeBatchItem(empty),
                                 *MakeBatchItem(gone)};
    fs::remove(gone);
    // A scratch output left behind must not pass for a later row's result.
    WriteBytes(session.Path() + kBatchTempName, TightPng());
    options.DeleteSource = true;
    std::vector<TBatchRowResult> seen(rows.size());
    TBatchHooks hooks;
    hooks.Row = [&](size_t i, const TBatchRowResult& r) { seen[i] = r; };
    const TBatchTotals t = RunBatch(state, rows, options, stop, hooks);

    EXPECT_EQ(seen[0].Outcome, TBatchOutcome::Kept);
    for (size_t i = 1; i < 4; ++i) EXPECT_EQ(seen[i].Outcome, TBatchOutcome::Error) << i;
    EXPECT_TRUE(fs::exists(broken));
    EXPECT_TRUE(fs::exists(empty));
    EXPECT_FALSE(fs::exists(tree.Path() + "broken.png"));
    EXPECT_FALSE(fs::exists(tree.Path() + "empty.png"));
    EXPECT_FALSE(fs::exists(tree.Path() + "gone.png"));
    EXPECT_EQ(t.Processed, 4);
    EXPECT_EQ(t.Errors, 3);
    EXPECT_EQ(t.Before, seen[0].OldSize);
    EXPECT_FALSE(fs::exists(session.Path() + kBatchTempName));

    // A missing session folder leaves no output at all: an error, the source kept.
    const std::string again = Put("again.bmp", Bmp(40, 30));
    options.SessionFolder = session.Path() + "missing/";
    EXPECT_EQ(Row(again).Outcome, TBatchOutcome::Error);
    EXPECT_TRUE(fs::exists(again));
    EXPECT_FALSE(fs::exists(tree.Path() + "again.png"));
}

TEST_F(BatchRun, AStopEndsTheRunBetweenRowsOrAbortsTheRunningOne) {
    std::vector<TBatchItem> rows;
    for (const char* n : {"a.bmp", "b.bmp", "c.bmp"}) rows.push_back(*MakeBatchItem(Put(n, Bmp(40, 30))));
    rows[1].Checked = false;  // passed over, still counted
    options.DeleteSource = true;

    TBatchHooks hooks;
    std::vector<TBatchOutcome> ends(3, TBatchOutcome::Pending);
    hooks.Row = [&](size_t i, const TBatchRowResult& r) {
        if (r.Outcome != TBatchOutcome::Running) ends[i] = r.Outcome;
    };
    hooks.Pump = [&] {
        if (ends[0] == TBatchOutcome::Kept) stop.Request();  // the save clears nothing of ours
    };
    TBatchTotals t = RunBatch(state, rows, options, stop, hooks);
    EXPECT_TRUE(t.Stopped);
    EXPECT_EQ(t.Processed, 1);
    EXPECT_EQ(ends[2], TBatchOutcome::Pending);
    EXPECT_TRUE(fs::exists(tree.Path() + "c.bmp"));
    EXPECT_TRUE(rows[2].Checked);

    // A stop while a row runs: it is aborted and its source stays.
    stop.Clear();
    hooks.Pump = {};
    hooks.Row = [&](size_t i, const TBatchRowResult& r) {
        if (r.Outcome == TBatchOutcome::Running) stop.Request();
        ends[i] = r.Outcome;
    };
    t = RunBatch(state, rows, options, stop, hooks);
    EXPECT_EQ(ends[2], TBatchOutcome::Aborted);
    EXPECT_TRUE(t.Stopped);
    EXPECT_EQ(t.Processed, 2);  // the two unchecked rows before it
    EXPECT_TRUE(fs::exists(tree.Path() + "c.bmp"));
    EXPECT_FALSE(fs::exists(tree.Path() + "c.png"));
}

TEST_F(BatchRun, QuantizingAndAlphaFollowTheSettings) {
    const std::string loose = Put("loose.png", LoosePng());
    TQuantizerSettings q;
    q.ColorCount = "4";
    options.Quantize = q;
    options.Destination = tree.Path() + "out";
    fs::create_directory(options.Destination);
    const TBatchRowResult r = Row(loose);
    ASSERT_EQ(r.Outcome, TBatchOutcome::Kept) << r.Loss;
    EXPECT_FALSE(state.BatchQuantize);  // restored after the row
    const std::vector<uint32_t> pixels = test::Rgba(DecodePngFile(r.Output).Pixels);
    EXPECT_LE(std::set<uint32_t>(pixels.begin(), pixels.end()).size(), 4u);

    // "Convert to alpha" is never skipped, even when it does not pay.
    fs::remove(r.Output);
    q.ConvertToAlpha = true;
    options.Quantize = q;
    const std::string tight = Put("tight.png", TightPng());
    const TBatchRowResult a = Row(tight);
    EXPECT_EQ(a.Outcome, TBatchOutcome::Kept) << a.Loss;
    EXPECT_TRUE(DecodePngFile(a.Output).HasAlpha);
}

TEST_F(BatchRun, ASuiteFolderLosesNothing) {
    // Real images of every kind: afterwards every source is either still there or replaced by a
    // smaller PNG of the same pixels, and the totals add up.
    const std::vector<std::string> names = {"basn0g01", "basn2c08", "basn3p08", "basn4a08",
                                            "basn6a08", "z00n2c08", "tbrn2c08", "basn3p01"};
    for (const auto& n : names) fs::copy_file(test::PngSuiteDir() / (n + ".png"), tree.Path() + n + ".png");
    for (const auto& n : {"basn2c08", "basn0g08"})
        fs::copy_file(test::DataDir() / "pngsuite" / "bmp" / (std::string(n) + ".bmp"), tree.Path() + "bmp_" + n + ".bmp");
    std::vector<TBatchItem> rows;
    AddBatchPaths({tree.Path()}, rows);
    ASSERT_EQ(rows.size(), names.size() + 2);
    options.DeleteSource = true;
    std::vector<TBatchRowResult> seen(rows.size());
    TBatchHooks hooks;
    hooks.Row = [&](size_t i, const TBatchRowResult& r) { seen[i] = r; };
    const TBatchTotals t = RunBatch(state, rows, options, stop, hooks);

    EXPECT_EQ(t.Errors, 0);
    EXPECT_EQ(t.Processed, static_cast<int32_t>(rows.size()));
    int64_t before = 0, after = 0;
    for (size_t i = 0; i < rows.size(); ++i) {
        const TBatchRowResult& r = seen[i];
        before += static_cast<int64_t>(rows[i].Size);
        const std::string png = tree.Path() + BatchOutputName(rows[i].Name);
        ASSERT_TRUE(fs::exists(png) || fs::exists(rows[i].Path)) << rows[i].Name;
        if (r.Outcome == TBatchOutcome::Kept) {
            EXPECT_LT(fs::file_size(png), static_cast<uintmax_t>(rows[i].Size)) << rows[i].Name;
            EXPECT_TRUE(Decodes(png));
            EXPECT_EQ(r.Loss, "0.00") << rows[i].Name;
            after += r.NewSize;
        } else {
            ASSERT_EQ(r.Outcome, TBatchOutcome::Skipped);
            EXPECT_EQ(fs::file_size(rows[i].Path), static_cast<uintmax_t>(rows[i].Size));
            after += rows[i].Size;
        }
    }
    EXPECT_EQ(t.Before, before);
    EXPECT_EQ(t.After, after);
    EXPECT_LT(t.After, t.Before);
    EXPECT_GT(t.Skipped, 0);
}

}  // namespace
}  // namespace jx
