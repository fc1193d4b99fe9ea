#pragma once
// What the engine, the opener and the editing commands report, shown in the main window's rooms:
// info lines and counts in the settings dialog, the busy cursor, refreshes of the view, grid and
// histogram, the status panels, the editing modes' ends and the icon frame dialog.
#include "edit/edit_observer.h"

namespace jx {

class TJXMainForm;

class TWindowReports : public EditObserver {
public:
    explicit TWindowReports(TJXMainForm& form) : form_(form) {}

    // True while a pass or a child tool holds the busy cursor (inside a pumped wait).
    bool Busy() const { return busyDepth_ > 0; }
    // A close asked for while busy: the window closes when the work ends.
    bool ClosePending() const { return closePending_; }
    void CloseWhenIdle() { closePending_ = true; }

    // Engine.
    void InfoClear() override;
    void InfoLine(const std::string& line) override;
    void BusyBegin() override;
    void BusyEnd() override;
    void ShowColorCount(const std::string& text) override;
    void Refresh(TRefreshTarget target) override;
    void SelectColorKey(uint32_t key) override;
    // Opening.
    bool ToolBarEnabled() override;
    void LeaveEditingModes() override;
    void ShowIconDialog(const std::string& fileName) override;
    void SourceReplaced(int32_t width, int32_t height, bool hasAlpha) override;
    void StatusText(int32_t panel, const std::string& text) override;
    void OpenWarning(const std::string& text) override;
    bool MaskEditing() override;
    void MaskPasted() override;
    void ClearFileTabs() override;
    // Editing.
    void ImageResized(int32_t width, int32_t height) override;
    void MaskRestored(bool hasMask) override;
    void PaletteTypeRestored(TPaletteType type) override;
    void Warning(const std::string& text) override;

private:
    TJXMainForm& form_;
    int busyDepth_ = 0;
    bool closePending_ = false;
};

}  // namespace jx
