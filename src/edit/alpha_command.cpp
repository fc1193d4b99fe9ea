#include "edit/alpha_command.h"

#include <filesystem>

#include "edit/commit.h"
#include "edit/errors.h"
#include "edit/state_files.h"
#include "fileio/open_decoders.h"
#include "fileio/open_image.h"
#include "fileio/picture_formats.h"
#include "imaging/quantize.h"
#include "platform/replace_file.h"

namespace jx {
namespace {

void ShowImageStatus(const EngineState& state, EditObserver& observer) {
    const auto texts = OpenStatusTexts(state, TOpenedFile{});
    observer.StatusText(1, texts[1]);
    observer.StatusText(2, texts[2]);
}

// The transformed source image (c1..c3, edge map and unique colours already rebuilt) in true
// colour, and its undo state.
void FinishTrueColor(EngineState& state, const TQuantizerSettings& settings, EditObserver& observer, TURClass& undo) {
    ShowImageStatus(state, observer);
    QuantizeThenRecord([&] { QuantizeTrueColor(state, settings, observer); },
                       [&](bool failed) {
                           if (failed) state.PaletteSize = -1;
                           undo.ImageChanged = true;
                           undo.PaletteChanged = false;
                           SaveStateReported(state, observer, undo);
                       });
}

}  // namespace

void AlphaCommand(EngineState& state, TAlphaMode mode, const TQuantizerSettings& settings, EditObserver& observer,
                  TURClass& undo) {
    if (!state.HasImage()) return;
    AlphaCommandImage(state, mode);
    state.ReconvertPending = true;
    FinishTrueColor(state, settings, observer, undo);
}

void FakeColorCommand(EngineState& state, TFakeColor tag, const TQuantizerSettings& settings,
                      EditObserver& observer, TURClass& undo) {
    if (!state.HasImage()) return;
    FakeColorImage(state, tag);
    FinishTrueColor(state, settings, observer, undo);
}

void GrayscaleCommand(EngineState& state, const TQuantizerSettings& settings, EditObserver& observer,
                      TURClass& undo) {
    if (!state.HasImage()) return;
    GrayscaleImage(state);
    FinishTrueColor(state, settings, observer, undo);
}

TPixelImage LoadBackgroundPicture(const std::string& fileName) {
    const TPictureRegistry& formats = PictureFormats();
    if (!formats.FindClass(std::filesystem::path(fileName).extension().string()))
        throw EditError("This file cannot be used as a background picture: " + fileName);
    const std::unique_ptr<TBitmap> picture = formats.LoadFromFile(fileName);
    if (picture->Empty()) throw EditError("The picture holds no pixels: " + fileName);
    TPixelImage pixels(picture->Width(), picture->Height());
    for (int y = 0; y < picture->Height(); ++y) {
        TPixelRec* row = pixels[y];
        for (int x = 0; x < picture->Width(); ++x) {
            const TBitmap::TBgra p = picture->Pixel(x, y);
            row[x].R = p.R;
            row[x].G = p.G;
            row[x].B = p.B;
            row[x].A = p.A;
        }
    }
    return pixels;
}

bool SplitCommand(TSplitView& view, const EngineState& state, const std::string& sessionFolder) {
    if (!CanSplitByAlpha(state, view.Active())) return false;
    TSplitView split;
    split.Split(state);
    if (!sessionFolder.empty()) {
        for (int32_t i = 0; i < 3; ++i) {
            const std::string path = (std::filesystem::path(sessionFolder) / TSplitView::FileNames()[static_cast<size_t>(i)]).string();
            WriteScratchFile(path, EncodeStateImage(split.Image(i)));
        }
    }
    view = std::move(split);
    return true;
}

bool SelectSplitTab(TSplitView& view, int32_t index, EngineState& state, const TQuantizerSettings& settings,
                    EditObserver& observer, TURClass& undo) {
    if (!view.Select(state, index)) return false;
    observer.MaskRestored(true);
    ShowImageStatus(state, observer);
    undo.Clear();
    QuantizeThenRecord([&] { Quantize(state, settings, observer); },
                       [&](bool) {
                           undo.ImageChanged = true;
                           undo.MaskChanged = true;
                           undo.PaletteChanged = state.PaletteSize > 0;
                           SaveStateReported(state, observer, undo);
                       });
    return true;
}

}  // namespace jx
