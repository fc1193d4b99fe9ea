#pragma once
// The window side of the palette edits: the palette grid (Image2) and its pop-up menu, the
// selected-colour view (Image3), selection and quick add from the image, the quick-add mode of
// PopupMenu2, Sort palette with its sort menu PopupMenu4, Recalculate and Save palette. The edits themselves are in
// edit/palette_edit.h.
#include <QImage>
#include <QObject>
#include <QRect>
#include <QString>
#include <functional>
#include <optional>

#include "edit/palette_edit.h"

class QAction;
class QMenu;
class QMouseEvent;

namespace jx {

class TJXMainForm;

class TPaletteCommands : public QObject {
    Q_OBJECT
public:
    explicit TPaletteCommands(TJXMainForm& form);

    // The colour picker: the selected cell's rectangle, the selected key and the start colour; an
    // empty answer when cancelled. Tests and the picker dialog replace the stand-in.
    using TColorPicker = std::function<std::optional<TPixelRec>(QRect cell, uint32_t key, const TPixelRec& start)>;
    void SetColorPicker(TColorPicker picker) { colorPicker_ = std::move(picker); }

    TPaletteSelection& Selection() { return selection_; }
    int32_t SelectedColorIndex() const { return selection_.Index; }
    TQuickAddMode QuickAddMode() const { return quickAddMode_; }
    void SetQuickAddMode(TQuickAddMode mode);
    QMenu* PopupMenu2() const { return popupMenu2_; }
    QMenu* PopupMenu4() const { return popupMenu4_; }
    const QImage& SelectedColorImage() const { return image3_; }

    // The palette grid without re-sorting, the selected cell framed white and black.
    void FrameSelectedColor();
    // Image3: the selected entry over a checkerboard by its alpha, with its colour and alpha texts.
    void DrawSelectedColor();
    // The engine redrew the palette (a remap re-sorted it): follow the colour, frame it.
    void PaletteRedrawn();
    void SelectColorKey(uint32_t key);

    // Commands (each does nothing without an image).
    void PaletteEditColor(bool replace);  // "Replace" / "Add" / a click on Image3
    void DeletePaletteEntry();
    void RemoveDuplicateColors();  // "double"
    void RemoveUnusedColors();     // "unused"
    void SortPalette();            // "Sort palette", ToolButton29
    // PopupMenu4: a method or direction item was chosen, or "Alpha" clicked.
    void SortTypeChosen();
    void SortAlphaClicked();
    void Recalculate();            // ToolButton14
    void SavePalClick();           // ToolButton32
    // Writes the palette by filter index (1 ".pal", 2 ".act"); refusals reach the message box.
    bool SavePalette(const QString& fileName, int filterIndex);

    // Mouse on the palette grid (grid coordinates) and releases over the image (image coordinates).
    void Image2MouseDown(Qt::MouseButton button, QPoint p);
    void Image2MouseUp(Qt::MouseButton button);
    void Image1Released(Qt::MouseButton button, QPoint imagePoint);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TPaletteEditTarget Target();
    template <class F>
    void Edit(F&& f);
    void InvertSelectedInView();
    QRect SelectedCell() const;
    void BuildSortMenu();
    TPaletteSortChoice SortChoice() const;

    TJXMainForm& form_;
    TPaletteSelection selection_;
    TQuickAddMode quickAddMode_ = TQuickAddMode::AddNew;
    TColorPicker colorPicker_;
    TQuantizerSettings settings_;  // the dialog's, taken when a command starts
    bool replaceFlag_ = false;
    bool pressFlag_ = false;
    QMenu* popupMenu1_ = nullptr;
    QMenu* popupMenu2_ = nullptr;
    QAction* add3_ = nullptr;
    QAction* replaceNearest1_ = nullptr;
    QMenu* popupMenu4_ = nullptr;
    QAction* sortMethods_[3] = {};
    QAction* sortDescending_ = nullptr;
    QAction* sortAlpha_ = nullptr;
    QImage image3_;
};

}  // namespace jx
