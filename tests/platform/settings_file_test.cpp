#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/errors.h"
#include "platform/settings.h"
#include "platform_test_util.h"

namespace fs = std::filesystem;
using jx::test::ReadText;
using jx::test::WriteText;

namespace {

class SettingsTest : public ::testing::Test {
protected:
    jx::test::TempDir tmp_;
    const std::string dir_ = tmp_.path.string(), file_ = dir_ + "/options.ini";
};

jx::JxOptions Changed() {
    return {.prtSc = true, .captureCursor = true, .disableClearType = true, .hotKey1 = "Ctrl+F5",
            .hotKey2 = "Shift+Alt+P", .hotKey3 = "", .optimization = 4, .iter = "40",
            .own = "/home/someone/my scripts/opt.sh", .showConsole = true};
}

TEST_F(SettingsTest, SavedOptionsSurviveAReload) {
    jx::SaveOptions(file_, Changed(), "2.0.0");
    EXPECT_EQ(jx::LoadOptions(file_, "2.0.0"), Changed());
    // Every key is written under the name earlier files used, sections in their order.
    const std::string text = ReadText(file_);
    EXPECT_LT(text.find("[Main]"), text.find("[Capture]"));
    EXPECT_LT(text.find("[Capture]"), text.find("[PNG]"));
    for (const char* key : {"JXVer=2.0.0", "PrtSc=1", "CaptureCursor=1", "DisableClearType=1", "HotKey1=Ctrl+F5",
                            "HotKey2=Shift+Alt+P", "HotKey3=\n", "Optimization=4", "Iter=40", "Own=/home",
                            "ShowConsole=1"})
        EXPECT_NE(text.find(key), std::string::npos) << key;

    // A missing file gives the defaults and writes nothing.
    fs::remove(file_);
    EXPECT_EQ(jx::LoadOptions(file_, "1.0.0"), jx::JxOptions{});
    EXPECT_FALSE(fs::exists(file_));
}

TEST_F(SettingsTest, OtherVersionIsTakenOverAndRewritten) {
    WriteText(file_, "[Main]\nJXVer=0.9\n[PNG]\nOptimization=3\nIter=7\nOldKey=x\n[Capture]\nPrtSc=1\n[Other]\nA=1\n");
    const jx::JxOptions o = jx::LoadOptions(file_, "1.0.0");
    EXPECT_EQ(o.optimization, 3);
    EXPECT_EQ(o.iter, "7");
    EXPECT_TRUE(o.prtSc);
    const std::string text = ReadText(file_);
    EXPECT_NE(text.find("JXVer=1.0.0"), std::string::npos);
    EXPECT_EQ(text.find("OldKey"), std::string::npos);
    EXPECT_NE(text.find("Optimization=3"), std::string::npos);
    EXPECT_EQ(jx::LoadOptions(file_, "1.0.0"), o);

    // The same version is not rewritten: unknown keys stay.
    const std::string same = "[Main]\nJXVer=1.0.0\n[PNG]\nExtra=kept\n";
    WriteText(file_, same);
    jx::LoadOptions(file_, "1.0.0");
    EXPECT_EQ(ReadText(file_), same);
}

TEST_F(SettingsTest, DamagedValuesReadAsDefaults) {
    std::string version;
    const jx::JxOptions o = jx::ParseOptions(
        "[capture]\r\nprtsc = 2\r\nCaptureCursor=yes\r\nDisableClearType=\r\n"
        "[PNG]\nOptimization=9\nShowConsole=-1\nIter\n=nokey\n[Main\nJXVer=5\n",
        &version);
    EXPECT_TRUE(o.prtSc);  // any non-zero number is true
    EXPECT_FALSE(o.captureCursor);
    EXPECT_FALSE(o.disableClearType);
    EXPECT_EQ(o.optimization, 1);
    EXPECT_TRUE(o.showConsole);
    EXPECT_EQ(o.iter, "15");
    EXPECT_EQ(version, "");  // the broken section header belongs to no section

    for (const auto& [value, want] : {std::pair<const char*, int>{"2x", 1}, {"99999999999999999999", 1}, {"+0", 0}})
        EXPECT_EQ(jx::ParseOptions(std::string("[PNG]\nOptimization=") + value + "\n", nullptr).optimization, want);

    // Hot keys that name no key read as none.
    auto filter = [](const std::string& t) { return t == "Ctrl+F5" ? t : std::string(); };
    const jx::JxOptions keys = jx::ParseOptions("[Capture]\nHotKey1=Ctrl+F5\nHotKey2=Ctrl+Nonsense\n", nullptr, filter);
    EXPECT_EQ(keys.hotKey1, "Ctrl+F5");
    EXPECT_EQ(keys.hotKey2, "");
}

TEST_F(SettingsTest, GarbageFileFallsBackToDefaultsAndIsRepaired) {
    std::string junk;
    for (int i = 0; i < 5000; ++i) junk.push_back(static_cast<char>((i * 7919) & 0xFF));
    WriteText(file_, junk);
    EXPECT_EQ(jx::LoadOptions(file_, "1.0.0"), jx::JxOptions{});
    EXPECT_NE(ReadText(file_).find("JXVer=1.0.0"), std::string::npos);
    EXPECT_EQ(jx::LoadOptions(file_, "1.0.0"), jx::JxOptions{});

    // Far too large to be ours: not read at all.
    WriteText(file_, "[PNG]\nOptimization=0\n" + std::string(2 << 20, ' '));
    EXPECT_EQ(jx::LoadOptions(file_, "1.0.0").optimization, 1);

    // A folder where the file should be.
    fs::remove(file_);
    fs::create_directory(file_);
    std::string warning;
    EXPECT_EQ(jx::LoadOptions(file_, "1.0.0", {}, &warning), jx::JxOptions{});
}

TEST_F(SettingsTest, SaveKeepsTheLinkAndModeAndRefusesALineBreak) {
    // A settings file kept elsewhere through a link, private to its user, stays so after a save.
    fs::create_directory(dir_ + "/dotfiles");
    const std::string target = dir_ + "/dotfiles/JX.ini";
    jx::SaveOptions(target, jx::JxOptions{}, "1.0.0");
    ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
    fs::create_symlink(target, file_);
    jx::SaveOptions(file_, Changed(), "2.0.0");
    EXPECT_TRUE(fs::is_symlink(file_));
    EXPECT_NE(ReadText(target).find("JXVer=2.0.0"), std::string::npos);
    EXPECT_EQ(jx::test::Mode(target), 0600u);

    // A line break would smuggle in a key: refused, the file kept, no temporary left.
    const std::string before = ReadText(target);
    jx::JxOptions bad = Changed();
    bad.own = "a\nPrtSc=0";
    EXPECT_THROW(jx::SaveOptions(file_, bad, "1.0.0"), jx::PlatformError);
    EXPECT_EQ(ReadText(target), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}) + std::distance(fs::directory_iterator(dir_ + "/dotfiles"), {}), 3);
}

TEST_F(SettingsTest, FolderFollowsXdgConfigHomeOrHome) {
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const char* oldHome = std::getenv("HOME");
    const std::string savedXdg = oldXdg ? oldXdg : "", savedHome = oldHome ? oldHome : "";

    ::setenv("XDG_CONFIG_HOME", (dir_ + "/cfg/deeper").c_str(), 1);
    EXPECT_EQ(jx::SettingsFolder(), dir_ + "/cfg/deeper/Mirelda/");
    EXPECT_TRUE(fs::is_directory(dir_ + "/cfg/deeper/Mirelda"));

    ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("HOME", (dir_ + "/home").c_str(), 1);
    EXPECT_EQ(jx::SettingsFolder(), dir_ + "/home/.config/Mirelda/");

    WriteText(dir_ + "/plainfile", "x");
    ::setenv("XDG_CONFIG_HOME", (dir_ + "/plainfile").c_str(), 1);
    EXPECT_THROW(jx::SettingsFolder(), jx::PlatformError);

    if (oldXdg) ::setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1); else ::unsetenv("XDG_CONFIG_HOME");
    if (oldHome) ::setenv("HOME", savedHome.c_str(), 1); else ::unsetenv("HOME");
}

}  // namespace
