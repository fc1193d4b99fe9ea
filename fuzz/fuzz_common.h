#pragma once
// Feeds one input to a reader; errors with a message are the expected outcome
// for damaged data, anything else (a crash, a sanitizer report) is a finding.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "fileio/errors.h"

template <typename Graphic>
void FuzzLoad(const uint8_t* data, size_t size, bool save_again = false) {
    Graphic graphic;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    try {
        graphic.CheckStreamHeader(in);
        graphic.LoadFromStream(in);
    } catch (const jx::FileIoError&) {
        return;
    }
    for (int y = 0; y < graphic.Height(); ++y)
        for (int x = 0; x < graphic.Width(); ++x) (void)graphic.Pixel(x, y);
    if constexpr (requires(Graphic g, std::ostream& o) { g.SaveToStream(o); }) {
        if (!save_again) return;
        std::ostringstream out;
        try {
            graphic.SaveToStream(out);
        } catch (const jx::FileIoError&) {
            return;
        }
        Graphic back;
        std::istringstream again(out.str());
        back.LoadFromStream(again);  // our own output must always load
    }
}
