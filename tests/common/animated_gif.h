#pragma once
// A small animated GIF for tests: `frames` full-size frames, each with its own stripes and a
// graphic control extension carrying a delay, as an animation tool writes them.
#include <gif_lib.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace jx::test {

inline void WriteAnimatedGif(const std::string& path, int width, int height, int frames) {
    int error = 0;
    GifFileType* g = EGifOpenFileName(path.c_str(), false, &error);
    if (!g) throw std::runtime_error("cannot write " + path);
    GifColorType colors[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    ColorMapObject* map = GifMakeMapObject(4, colors);
    bool ok = EGifPutScreenDesc(g, width, height, 8, 0, map) == GIF_OK;
    std::vector<GifByteType> line(static_cast<size_t>(width));
    for (int f = 0; f < frames && ok; ++f) {
        GraphicsControlBlock gcb{DISPOSAL_UNSPECIFIED, false, 10, NO_TRANSPARENT_COLOR};
        GifByteType ext[4];
        EGifGCBToExtension(&gcb, ext);
        ok = EGifPutExtension(g, GRAPHICS_EXT_FUNC_CODE, 4, ext) == GIF_OK &&
             EGifPutImageDesc(g, 0, 0, width, height, false, nullptr) == GIF_OK;
        for (int y = 0; y < height && ok; ++y) {
            for (int x = 0; x < width; ++x) line[static_cast<size_t>(x)] = static_cast<GifByteType>((x / 3 + y / 5 + f) % 4);
            ok = EGifPutLine(g, line.data(), width) == GIF_OK;
        }
    }
    ok = EGifCloseFile(g, &error) == GIF_OK && ok;
    GifFreeMapObject(map);
    if (!ok) throw std::runtime_error("cannot write " + path);
}

}  // namespace jx::test
