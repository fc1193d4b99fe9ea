// Opening through the undo hooks: the window still hears every report, and the open's own
// settings (the tools) reach the decoder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <stdexcept>

#include "edit/commit.h"
#include "edit_test_util.h"

namespace jx::test {
namespace {

// Logs which hooks reached it.
class HookLog : public FakeWindow {
public:
    std::vector<std::string> heard;
    bool toolBar = true;

    void InfoClear() override { heard.push_back("InfoClear"); }
    void InfoLine(const std::string&) override { heard.push_back("InfoLine"); }
    void BusyBegin() override { heard.push_back("BusyBegin"); }
    void BusyEnd() override { heard.push_back("BusyEnd"); }
    void ShowColorCount(const std::string& text) override {
        FakeWindow::ShowColorCount(text);
        heard.push_back("ShowColorCount");
    }
    void Refresh(TRefreshTarget t) override {
        FakeWindow::Refresh(t);
        heard.push_back("Refresh");
    }
    bool ToolBarEnabled() override {
        heard.push_back("ToolBarEnabled");
        return toolBar;
    }
    void LeaveEditingModes() override { heard.push_back("LeaveEditingModes"); }
    void SourceReplaced(int32_t, int32_t, bool) override { heard.push_back("SourceReplaced"); }
    void SaveUndoState(bool, bool, bool) override { heard.push_back("SaveUndoState"); }
    void StatusText(int32_t panel, const std::string& text) override {
        FakeWindow::StatusText(panel, text);
        heard.push_back("StatusText");
    }

    bool Heard(const std::string& hook) const { return std::find(heard.begin(), heard.end(), hook) != heard.end(); }
};

class OpenCommandTest : public EditTest {
protected:
    std::string WriteBmp() {
        const std::string file = pictures_.Path() + "picture.bmp";
        WriteBytes(file, EncodeStateImage(Pixels(12, 9, 3)));
        return file;
    }
    HookLog log_;
};

TEST_F(OpenCommandTest, EveryReportButTheUndoHookReachesTheWindow) {
    TOpenTarget target{state_, settings_, log_, current_};
    ASSERT_TRUE(OpenImageCommand(target, WriteBmp(), *undo_));
    for (const char* hook : {"ToolBarEnabled", "LeaveEditingModes", "SourceReplaced", "ShowColorCount", "StatusText",
                             "BusyBegin", "BusyEnd", "Refresh"})
        EXPECT_TRUE(log_.Heard(hook)) << hook;
    // The state is saved by the command itself, once the image is quantized.
    EXPECT_FALSE(log_.Heard("SaveUndoState"));
    EXPECT_EQ(undo_->Count(), 1);
    EXPECT_EQ(log_.status[1], "Dimension: 12x9");

    // The window's answer to a question counts: with its tool bar off nothing opens.
    log_.toolBar = false;
    const Snapshot before = Take(state_);
    EXPECT_FALSE(OpenImageCommand(target, WriteBmp(), *undo_));
    EXPECT_EQ(Take(state_), before);
}

TEST_F(OpenCommandTest, TheDecoderRunsTheToolsOfTheOpen) {
    // A stand-in decoder in the session folder that writes a known picture.
    const std::string png = (PngSuiteDir() / "basn2c08.png").string();
    const std::string tool = session_.Path() + "dwebp";
    std::ofstream(tool) << "#!/bin/sh\nfor last; do :; done\ncp '" << png << "' \"$last\"\n";
    ::chmod(tool.c_str(), 0755);
    const std::string file = pictures_.Path() + "picture.webp";
    WriteBytes(file, {'R', 'I', 'F', 'F'});

    TOpenTarget target{state_, settings_, log_, current_};
    target.Tools.SessionFolder = session_.Path();
    ASSERT_TRUE(OpenImageCommand(target, file, *undo_));
    EXPECT_EQ(state_.ImageWidth(), 32);
    EXPECT_EQ(state_.ImageHeight(), 32);
}

// Stands in front of another observer and keeps nothing for itself.
class PassThrough : public EditObserver {
public:
    explicit PassThrough(EditObserver& next) : EditObserver(next) {}
};

TEST(EditObserverTest, TheEditHooksReachTheObserverBehind) {
    FakeWindow window;
    PassThrough front(window);
    EditObserver& hooks = front;
    hooks.CommitStage(TCommitStage::EdgeMap);
    hooks.Warning("not saved");
    hooks.MaskRestored(true);
    hooks.StatusText(2, "Colors: 5");
    EXPECT_EQ(window.stages, std::vector<TCommitStage>{TCommitStage::EdgeMap});
    EXPECT_EQ(window.warnings, std::vector<std::string>{"not saved"});
    EXPECT_EQ(window.masksRestored, 1);
    EXPECT_EQ(window.status[2], "Colors: 5");
}

TEST(QuantizeThenRecordTest, RecordsAlsoWhenQuantizingThrowsAndRaisesTheErrorAfter) {
    std::vector<std::string> steps;
    QuantizeThenRecord([&] { steps.push_back("quantize"); },
                       [&](bool failed) { steps.push_back(failed ? "record failed" : "record"); });
    EXPECT_THROW(QuantizeThenRecord([&] { throw std::runtime_error("no palette"); },
                                    [&](bool failed) { steps.push_back(failed ? "record failed" : "record"); }),
                 std::runtime_error);
    EXPECT_EQ(steps, (std::vector<std::string>{"quantize", "record", "record failed"}));
}

}  // namespace
}  // namespace jx::test
