#include "edit/commit.h"

#include "edit/errors.h"
#include "fileio/open_image.h"
#include "fileio/palette_file.h"
#include "imaging/color_space.h"
#include "imaging/color_tree.h"
#include "imaging/edge_map.h"
#include "imaging/quantize.h"
#include "imaging/remap.h"

namespace jx {

void QuantizeThenRecord(const std::function<void()>& quantize, const std::function<void(bool failed)>& record) {
    try {
        quantize();
    } catch (...) {
        record(true);
        throw;
    }
    record(false);
}

void SaveStateReported(const EngineState& state, TURClass& undo,
                       const std::function<void(const std::string&)>& onWarning) {
    try {
        undo.SaveState(state);
    } catch (const std::exception& e) {
        if (onWarning) onWarning(e.what());
    }
}

void SaveStateReported(const EngineState& state, EditObserver& observer, TURClass& undo) {
    SaveStateReported(state, undo, [&](const std::string& message) { observer.Warning(message); });
}

void PutSourceImage(EngineState& state, TPixelImage image, EditObserver& observer) {
    observer.CommitStage(TCommitStage::CopyIn);
    const bool sameSize =
        image.Width() == state.QualityMask.Width() && image.Height() == state.QualityMask.Height();
    state.SourceImage = std::move(image);
    state.HiddenColors.reset();
    TPixelRec* px = state.SourceImage.Data();
    const int64_t n = state.SourceImage.Count();
    observer.CommitStage(TCommitStage::ClearTransparent);
    for (int64_t i = 0; i < n; ++i)
        if (px[i].A == 0) px[i].R = px[i].G = px[i].B = 0;
    observer.CommitStage(TCommitStage::ConvertColors);
    for (int64_t i = 0; i < n; ++i) {
        state.Convert(px[i]);
        if (px[i].A == 0) px[i].Weight = 0;
    }
    state.WorkingImage = state.SourceImage;
    if (!sameSize) state.QualityMask.Resize(state.ImageWidth(), state.ImageHeight(), 0);
}

void RebuildImageDependants(EngineState& state, EditObserver& observer) {
    observer.CommitStage(TCommitStage::EdgeMap);
    BuildEdgeMap(state);
    observer.CommitStage(TCommitStage::UniqueColors);
    BuildUniqueColors(state);
    observer.CommitStage(TCommitStage::Status);
    // The status texts of an open, so every command shows the same words.
    const auto texts = OpenStatusTexts(state, TOpenedFile{});
    observer.StatusText(1, texts[1]);
    observer.StatusText(2, texts[2]);
}

void CommitImage(EngineState& state, TPixelImage image, const TQuantizerSettings& settings, EditObserver& observer,
                 TURClass& undo, TCommitOptions options) {
    if (image.Empty()) throw EditError("The command left no image");
    if (options.Mask && (options.Mask->Width() != image.Width() || options.Mask->Height() != image.Height())) throw EditError("The mask does not fit the image");
    const bool sizeChanged = !image.SameShape(state.SourceImage);
    if (options.HasAlpha) state.HasAlpha = *options.HasAlpha;
    PutSourceImage(state, std::move(image), observer);
    if (options.Mask) state.QualityMask = std::move(*options.Mask);
    RebuildImageDependants(state, observer);
    if (sizeChanged) observer.ImageResized(state.ImageWidth(), state.ImageHeight());

    observer.CommitStage(TCommitStage::Quantize);
    QuantizeThenRecord([&] { Quantize(state, settings, observer); },
                       [&](bool) {
                           observer.CommitStage(TCommitStage::SaveUndo);
                           undo.ImageChanged = true;
                           undo.MaskChanged = undo.MaskChanged || sizeChanged || options.Mask.has_value();
                           undo.PaletteChanged = state.PaletteSize > 0;
                           SaveStateReported(state, observer, undo);
                       });
}

void CommitMask(EngineState& state, EditObserver& observer, TURClass& undo) {
    undo.MaskChanged = true;
    SaveStateReported(state, observer, undo);
}

void CommitPalette(EngineState& state, EditObserver& observer, TURClass& undo) {
    undo.PaletteChanged = true;
    SaveStateReported(state, observer, undo);
}

void ApplyQuantize(EngineState& state, const TQuantizerSettings& settings, EditObserver& observer, TURClass& undo) {
    if (!state.HasImage()) return;
    if (state.ReconvertPending) {
        ApplyColorSpace(state, settings.ColorSpace);
        state.ReconvertPending = false;
    }
    Quantize(state, settings, observer);
    if (state.PaletteSize > 0)
        CommitPalette(state, observer, undo);
    else
        SaveStateReported(state, observer, undo);  // true colour is a step of its own, without a palette
}

void LoadPaletteCommand(EngineState& state, const std::string& fileName, const TQuantizerSettings& settings,
                        EditObserver& observer, TURClass& undo) {
    if (state.Palette.empty()) return;
    LoadPalette(state, fileName);
    SetCustomPaletteFile(state, fileName);
    state.PaletteType = TPaletteType::Custom;
    observer.ShowColorCount(std::to_string(state.PaletteSize));
    if (state.BatchQuantize || !state.HasImage()) return;
    ConvertImage(state, settings, observer);
    if (state.PaletteSize > 0) CommitPalette(state, observer, undo);
}

}  // namespace jx
