// Writes the PNG jx hands its optimiser when it saves a quantized picture: the picture opened
// as the main window opens it, resampled to W x H, quantized to N colours, and encoded as jx
// encodes "0.png". The large indexed files of bench/quillox_bench.sh come from here.
//
//   quantized_png IMAGE W H N none|fs OUT.png
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fileio/open_image.h"
#include "fileio/png_chain.h"
#include "imaging/color_space.h"
#include "imaging/color_tree.h"
#include "imaging/engine_state.h"
#include "imaging/quantize.h"
#include "imaging/resize_image.h"

int main(int argc, char** argv) {
    using namespace jx;
    if (argc != 7) {
        std::fprintf(stderr, "usage: %s IMAGE W H N none|fs OUT.png\n", argv[0]);
        return 2;
    }
    const int w = std::atoi(argv[2]), h = std::atoi(argv[3]);
    const std::string dither = argv[5];
    EngineState opened;
    TQuantizerSettings settings;
    OpenImageObserver quiet;
    TOpenedFile current;
    TOpenTarget target{opened, settings, quiet, current};
    if (!OpenImage(target, argv[1])) {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    TResizeOptions resize;
    resize.HasAlpha = false;
    EngineState state;
    state.SetSourceImage(ResizeImage(opened.WorkingImage, w, h, resize));
    ApplyColorSpace(state, 0);
    BuildUniqueColors(state);
    TQuantizerSettings q;
    q.ColorCount = argv[4];
    q.DitherMode = dither == "fs" ? TDitherMode::FloydSteinberg : TDitherMode::None;
    EngineObserver none;
    Quantize(state, q, none);
    const std::vector<uint8_t> png = EncodeJxPng(state.WorkingImage, false);
    FILE* out = std::fopen(argv[6], "wb");
    if (!out || std::fwrite(png.data(), 1, png.size(), out) != png.size() || std::fclose(out) != 0) {
        std::fprintf(stderr, "cannot write %s\n", argv[6]);
        return 1;
    }
    return 0;
}
