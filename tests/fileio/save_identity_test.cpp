// Every save path keeps the identity of the file it replaces (mode, owner, a link and its target),
// and every failure message names the file, the format and the cause.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "fileio/bitmap.h"
#include "fileio/errors.h"
#include "fileio/open_image.h"
#include "fileio/palette_file.h"
#include "fileio/save_image.h"
#include "fileio/targa_graphic.h"
#include "fake_tools.h"
#include "save_test_util.h"

namespace jx {
namespace {

namespace fs = std::filesystem;

class SaveIdentityTest : public test::ScratchDir {
protected:
    void SetUp() override {
        test::ScratchDir::SetUp();
        test::MakePaletteImage(state, test::DistinctColors(6), 4, 3, {0, 1, 2, 3, 4, 5, 0, 1, 2, 3, 4, 5}, false);
        fs::create_directory(dir_ / "session");
        fs::create_directory(dir_ / "real");
    }

    // `save` writes through the link "out.<ext>" to real/out.<ext>, a 0600 file of another owner
    // where the test may arrange one.
    void ExpectIdentityKept(const std::string& ext, const std::function<void(const std::string&)>& save) {
        SCOPED_TRACE(ext);
        const std::string target = Path("real/out" + ext);
        const std::string link = Path("out" + ext);
        test::WriteText(target, "old");
        ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
        const bool root = ::geteuid() == 0;
        if (root) {
            ASSERT_EQ(::chown(target.c_str(), 65534, 65534), 0);
        }
        fs::remove(link);
        fs::create_symlink("real/out" + ext, link);

        save(link);

        EXPECT_TRUE(fs::is_symlink(link));
        struct stat st {};
        ASSERT_EQ(::stat(target.c_str(), &st), 0);
        EXPECT_GT(st.st_size, 3);  // the new content, not "old"
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        if (root) {
            EXPECT_EQ(st.st_uid, 65534u);
            EXPECT_EQ(st.st_gid, 65534u);
        }
        for (const auto& e : fs::directory_iterator(dir_ / "real"))
            EXPECT_EQ(e.path().filename().string().rfind(".out", 0), std::string::npos) << "temporary left: " << e.path();
    }

    TSaveResult Save(const std::string& path, int32_t filter) {
        TSaveRequest req;
        req.fileName = path;
        req.filterIndex = filter;
        req.png.sessionFolder = Path("session");
        req.png.options.level = PngLevelFast;
        return SaveImage(state, req);
    }

    EngineState state;
};

TEST_F(SaveIdentityTest, EverySaverKeepsModeOwnerAndLink) {
    ExpectIdentityKept(".bmp", [&](const std::string& p) { Save(p, sfBmp); });
    ExpectIdentityKept(".tga", [&](const std::string& p) { Save(p, sfTga); });
    ExpectIdentityKept(".gif", [&](const std::string& p) { Save(p, sfGif); });
    // The chain's tools are missing from this session folder: jx's own PNG is what lands.
    ExpectIdentityKept(".png", [&](const std::string& p) { Save(p, sfPng); });
    if (::access("/usr/bin/cwebp", X_OK) == 0 && ::access("/usr/bin/dwebp", X_OK) == 0) {
        fs::create_symlink("/usr/bin/cwebp", dir_ / "session" / "cwebp");
        fs::create_symlink("/usr/bin/dwebp", dir_ / "session" / "dwebp");
        ExpectIdentityKept(".webp", [&](const std::string& p) { Save(p, sfWebp); });
    }
    ExpectIdentityKept(".pal", [&](const std::string& p) { SavePalette(state, p, 1); });
    ExpectIdentityKept(".tga", [&](const std::string& p) {
        TBitmap b;
        BufferToBitmap(state, b, 0);
        TTargaGraphic tga;
        tga.Assign(b);
        tga.SaveToFile(p);
    });
}

// Beside the file a save replaces lie the user's own files, which it never removes; only an old
// temporary of the savers' own shape goes. A write-protected file is refused and stays.
TEST_F(SaveIdentityTest, EverySaverSparesNeighboursAndRefusesProtectedFiles) {
    const std::vector<std::pair<std::string, std::function<void(const std::string&)>>> savers = {
        {".bmp", [&](const std::string& p) { Save(p, sfBmp); }},
        {".tga", [&](const std::string& p) { Save(p, sfTga); }},
        {".gif", [&](const std::string& p) { Save(p, sfGif); }},
        {".png", [&](const std::string& p) { Save(p, sfPng); }},
        {".pal", [&](const std::string& p) { SavePalette(state, p, 1); }},
    };
    const struct timespec old[2] = {{::time(nullptr) - 120, 0}, {::time(nullptr) - 120, 0}};
    for (const auto& [ext, save] : savers) {
        SCOPED_TRACE(ext);
        const std::string out = Path("out" + ext);
        const std::vector<std::string> mine = {Path(".out" + ext + ".backup"), Path(".out" + ext + ".abc123")};
        const std::string stale = Path(".out" + ext + ".jx-Ab12Cd");
        for (const std::string& p : mine) test::WriteText(p, "mine");
        test::WriteText(stale, "partial");
        for (const std::string& p : mine) ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), old, 0), 0);
        ASSERT_EQ(::utimensat(AT_FDCWD, stale.c_str(), old, 0), 0);
        save(out);
        for (const std::string& p : mine) EXPECT_EQ(test::ReadText(p), "mine") << p;
        EXPECT_FALSE(fs::exists(stale));

        const std::string before = test::ReadText(out);
        ASSERT_EQ(::chmod(out.c_str(), 0444), 0);
        try {
            save(out);
            ADD_FAILURE() << "a write-protected file was replaced";
        } catch (const FileIoError& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find("\"" + out + "\""), std::string::npos) << what;
            EXPECT_NE(what.find(": the file is write-protected"), std::string::npos) << what;
        }
        EXPECT_EQ(test::ReadText(out), before);
    }
    // Refused before any work: the quality dialog is not even offered.
    const std::string jpg = Path("late.jpg");
    test::WriteText(jpg, "mine");
    ASSERT_EQ(::chmod(jpg.c_str(), 0444), 0);
    EXPECT_THROW(Save(jpg, sfJpg), FileIoError);
}

TEST_F(SaveIdentityTest, SaveFailuresNameFileFormatAndCause) {
    const std::string missing = Path("no/such/x.png");
    for (int32_t filter : {sfBmp, sfTga, sfGif}) {
        try {
            Save(missing, filter);
            ADD_FAILURE() << "no error for " << filter;
        } catch (const FileIoError& e) {
            const std::string word = filter == sfBmp ? "bmp" : filter == sfTga ? "tga" : "gif";
            const std::string upper = filter == sfBmp ? "BMP" : filter == sfTga ? "TGA" : "GIF";
            EXPECT_EQ(std::string(e.what()),
                      "Cannot write \"" + Path("no/such/x." + word) + "\" as " + upper + ": No such file or directory");
        }
    }
}

TEST_F(SaveIdentityTest, OpenFailuresNameFileFormatAndCause) {
    OpenImageObserver host;
    TQuantizerSettings settings;
    TOpenedFile current;
    TOpenTarget target{state, settings, host, current};
    auto message = [&](const std::string& name, const std::string& bytes) {
        test::WriteText(Path(name), bytes);
        try {
            OpenImage(target, Path(name));
        } catch (const FileIoError& e) {
            return std::string(e.what());
        }
        return std::string("(no error)");
    };
    // A TGA header announcing a pixel that is not there.
    std::string tga(18, '\0');
    tga[2] = 2;
    tga[12] = 1;
    tga[14] = 1;
    tga[16] = 24;
    EXPECT_EQ(message("cut.tga", tga), "Cannot open \"" + Path("cut.tga") + "\" as TGA: the file is cut short");
    const std::string gif = message("cut.gif", std::string("GIF89a\x01\x00\x01\x00\x00\x00\x00,", 14));
    EXPECT_EQ(gif.rfind("Cannot open \"" + Path("cut.gif") + "\" as GIF: ", 0), 0u) << gif;
    EXPECT_EQ(gif.find("error 0"), std::string::npos) << gif;

    // The WebP decoder's failure says which tool failed and how.
    test::WriteScript(Path("dwebp"), "exit 3");
    target.Tools.SessionFolder = dir_.string();
    EXPECT_EQ(message("a.webp", "RIFF"),
              "Cannot open \"" + Path("a.webp") + "\" as WebP: Decode error: dwebp ended with exit code 3");
}

}  // namespace
}  // namespace jx
