#pragma once
// The main window's image list: 69 glyphs of 16 x 16 with alpha, drawn here, at fixed indices
// that the tool bars, menus and dialogs use.
#include <QIcon>

#include "gui/png_image_list.h"

class QAbstractButton;
class QAction;

namespace jx {

enum TGlyph : int {
    gOpen = 0, gSave = 1, gCopy = 2, gPaste = 3, gUndo = 4, gRedo = 5, gMask = 6, gEraser = 7, gClearMask = 8,
    gBrush3 = 9, gBrush7 = 10, gBrush13 = 11, gBrush17 = 12,
    gColorCorrection = 13, gFilter = 14, gSmoothing = 15, gRecalculate = 16, gQuickAdd = 17, gImageResize = 18,
    gCanvasResize = 19, gCrop = 20, gAutoCrop = 21, gAbout = 22, gBatch = 23, gQuantizerSettings = 24,
    gSortPalette = 25, gLoadPalette = 26, gSavePalette = 27, gSettings = 28, gApply = 29, gZoomIn = 30,
    gZoomOut = 31, gActualSize = 32, gFolder = 33, gPalette = 34, gAlpha = 35, gAddFolder = 36, gAddImages = 37,
    gRemoveAll = 38, gImage = 39, gRemoveSelected = 40, gCheck = 41, gUncheck = 42, gInverse = 43,
    gUnchecked = 44, gChecked = 45, gSplitView = 46, gGrid = 47, gPictureBackground = 48, gColorFill = 49,
    gScreenCapture = 50, gWindowCapture = 51, gStart = 52, gStop = 53, gAscending = 54, gDescending = 55,
    gArrowRight = 56, gArrowUpRight = 57, gArrowUp = 58, gArrowUpLeft = 59, gArrowLeft = 60,
    gArrowDownLeft = 61, gArrowDown = 62, gArrowDownRight = 63,
    gIconFrames = 64, gGetColor = 65, gPasteColor = 66, gMatte = 67, gPreview = 68,
    kGlyphCount = 69
};

// Built on first use (needs the application object).
const TPngImageList& GlyphList();
// The item's icon with its disabled look; empty for an index out of range.
QIcon Glyph(int index);
// Shows the glyph on an action or button; the caption moves to the tooltip unless kept.
void SetGlyph(QAction* action, int index);
void SetGlyph(QAbstractButton* button, int index, bool keepCaption = false);

}  // namespace jx
