#pragma once
// The drawings of the main window and the settings dialog as Qt images and texts: the engine draws
// them (imaging/preview.h, imaging/metrics.h), these wrap the results for the widgets.
#include <QImage>
#include <QPainter>
#include <QString>
#include <array>

#include "imaging/engine_state.h"
#include "imaging/preview.h"
#include "imaging/settings.h"

namespace jx {

// WorkingImage as shown, by the view flags, translucent pixels over the background.
QImage RenderImage(const EngineState& state, const TViewOptions& options = {});
// SourceImage over the background.
QImage ShowSource(const EngineState& state);
// The palette as 16 x 16 cells, 16 a row, first sorted by PaletteSortType with resort; a null
// image when PaletteSize < 1.
QImage DrawPaletteGrid(EngineState& state, bool resort = false);
// The channel histogram in a box of that size; turns the counts into bar tops once per Quantize.
QImage DrawHistogram(EngineState& state, QSize box, QColor buttonFace);

// The four error labels; tab is the view tab (0 all pixels, 1 opaque only, 2 translucent only).
std::array<QString, 4> ErrorMetricTexts(const EngineState& state, TErrorMetric metric, int tab = 0);

// Outlined caption: black at the nine positions round (x, y), then white at (x, y).
void DrawCaption(QPainter& painter, int x, const QString& text, int y);
// The height one DrawCaption line takes, its outline included.
int CaptionLineHeight();

}  // namespace jx
