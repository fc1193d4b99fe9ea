// The output stage's driver: each reduction lives in its own file (output_bit_depth.cpp,
// output_color_type.cpp, output_palette.cpp, output_palette_order.cpp,
// output_transparent_fill.cpp); this file runs them in order and says why each one runs.
#include "pngopt/output.h"

#include <algorithm>

#include "pngopt/lossy.h"
#include "pngopt/output_internal.h"
#include "pngopt/quantize.h"

namespace jx::quillox {
namespace {

Transparency KindOf(const Analysis& a) {
    if (a.partial) return Transparency::Alpha;
    return a.transparent ? Transparency::Binary : Transparency::None;
}

}  // namespace

OutputImage ChooseOutputFormat(WorkImage& image, const Options& options, ThreadPool* pool) {
    using namespace detail;
    const Measurer m(options, pool);
    const bool mayRecolour = options.cleanTransparent || options.optimizeTransparent;
    // "/nc": the input's colour type stays, so none of the choices below apply.
    if (options.keepColorType) return KeepColorType(image, options, m);
    // 16-bit samples that repeat their high byte lose nothing at 8 bits; the layouts below then
    // count the colours of the smaller image.
    if (image.sampleDepth == 16 && image.analysis.eightBitEnough) To8Bit(image);
    const Analysis& a = image.analysis;
    Transparency kind = KindOf(a);
    const bool wide = image.sampleDepth == 16;
    // No palette holds 16-bit samples or more than 256 colours: grey or true colour, nothing to try.
    if (wide || a.colorCount > 256) return BuildPlain(image, !a.grey, wide ? 16 : 8, kind, mayRecolour);
    // Otherwise palette, grey and true colour can each hold the image: trial encodings decide.
    return ChooseSmallLayout(image, options, kind, mayRecolour, m, pool);
}

bool OutputInterlaced(const WorkImage& image, const Options& options) {
    return options.interlace < 0 ? image.interlaced : (options.interlace % 2 == 0);
}

OutputImage BuildOutputImage(WorkImage& image, const Options& options, std::ostream* progress, ThreadPool* pool) {
    // The lossy pass first: it changes the pixels whose colours every later step counts.
    ApplyLossyPrePass(image, options);
    if (options.quantize) {
        // More colours asked for than the image has: every colour stays as it is.
        if (CountDistinctColors8(image) > uint64_t(options.colorCount)) {
            QuantizeImage(image, options.colorCount, options.ditherAmount, progress);
            Analyze(image);
        }
    }
    const Analysis& a = image.analysis;
    OutputImage out;
    // Transparent pixels' colours are worth trying only when "/a1" lets them change, the colour
    // type and palette are free to follow, and there are transparent pixels among enough colours.
    if (!options.optimizeTransparent || options.keepColorType || options.keepPalette ||
        (a.transparent == 0 && a.partial == 0) || a.colorCount < 3) {
        out = ChooseOutputFormat(image, options, pool);
    } else {
        out = detail::ChooseTransparentFill(image, options, progress, pool);
    }
    out.interlace = OutputInterlaced(image, options);
    if (image.hasGamma && options.gammaMode == GammaMode::Keep) {
        out.hasGamma = true;
        out.gamma = image.gamma;
    }
    return out;
}

int ReportedColorType(const OutputImage& image) {
    if (image.colorType != kPngPalette) return image.colorType;
    bool grey = std::all_of(image.palette.begin(), image.palette.end(),
                            [](const PaletteEntry& e) { return e.r == e.g && e.g == e.b; });
    bool trns = std::any_of(image.palette.begin(), image.palette.end(), [](const PaletteEntry& e) { return e.a != 255; });
    if (trns) return grey ? 5 : 7;
    return grey ? 1 : 3;
}

}  // namespace jx::quillox
