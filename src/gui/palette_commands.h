#pragma once
// The window side of the palette edits: the palette grid and its pop-up menu, the selected-colour
// view, selection and quick add from the image, the quick-add mode of the image menu, Sort palette
// with its sort menu, Recalculate and Save palette. The edits themselves are in edit/palette_edit.h.
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

class QLabel;

namespace jx {

class TJXMainForm;

class TPaletteCommands : public QObject {
    Q_OBJECT
public:
    // grid and selectedColor are the panel's palette grid and selected-colour labels.
    TPaletteCommands(TJXMainForm& form, QLabel& grid, QLabel& selectedColor);
    QLabel* PaletteGrid() const { return &grid_; }
    // Their filters go before the window starts its teardown.
    void StopWatching();

    // The colour picker: the selected cell's rectangle, the selected key and the start colour; an
    // empty answer when cancelled. Tests and the picker dialog replace the stand-in.
    using TColorPicker = std::function<std::optional<TPixelRec>(QRect cell, uint32_t key, const TPixelRec& start)>;
    void SetColorPicker(TColorPicker picker) { colorPicker_ = std::move(picker); }

    TPaletteSelection& Selection() { return selection_; }
    int32_t SelectedColorIndex() const { return selection_.Index; }
    TQuickAddMode QuickAddMode() const { return quickAddMode_; }
    void SetQuickAddMode(TQuickAddMode mode);
    QMenu* ImageMenu() const { return imageMenu_; }
    QMenu* SortMenu() const { return sortMenu_; }
    const QImage& SelectedColorImage() const { return selectedColorImage_; }

    // The palette grid without re-sorting, the selected cell framed white and black.
    void FrameSelectedColor();
    // SelectedColor: the selected entry over a checkerboard by its alpha, with its colour and alpha texts.
    void DrawSelectedColor();
    // The engine redrew the palette (a remap re-sorted it): follow the colour, frame it.
    void PaletteRedrawn();
    void SelectColorKey(uint32_t key);

    // Commands (each does nothing without an image).
    void PaletteEditColor(bool replace);  // "Replace" / "Add" / a click on SelectedColor
    void DeletePaletteEntry();
    void RemoveDuplicateColors();  // "double"
    void RemoveUnusedColors();     // "unused"
    void SortPalette();            // "Sort palette", SortPaletteButton
    // SortMenu: a method or direction item was chosen, or "Alpha" clicked.
    void SortTypeChosen();
    void SortAlphaClicked();
    void Recalculate();            // RecalculateButton
    void SavePalClick();           // SavePaletteButton
    // Writes the palette by filter index (1 ".pal", 2 ".act"); refusals reach the message box.
    bool SavePalette(const QString& fileName, int filterIndex);

    // Mouse on the palette grid (grid coordinates) and releases over the image (image coordinates).
    void PaletteGridMouseDown(Qt::MouseButton button, QPoint p);
    void PaletteGridMouseUp(Qt::MouseButton button);
    void ImageReleased(Qt::MouseButton button, QPoint imagePoint);

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
    QLabel& grid_;
    QLabel& selectedColorLabel_;
    TPaletteSelection selection_;
    TQuickAddMode quickAddMode_ = TQuickAddMode::AddNew;
    TColorPicker colorPicker_;
    TQuantizerSettings settings_;  // the dialog's, taken when a command starts
    bool replaceFlag_ = false;
    bool pressFlag_ = false;
    QMenu* paletteMenu_ = nullptr;
    QMenu* imageMenu_ = nullptr;
    QAction* addNewColorAction_ = nullptr;
    QAction* replaceNearestAction_ = nullptr;
    QMenu* sortMenu_ = nullptr;
    QAction* sortMethods_[3] = {};
    QAction* sortDescending_ = nullptr;
    QAction* sortAlpha_ = nullptr;
    QImage selectedColorImage_;
};

}  // namespace jx
