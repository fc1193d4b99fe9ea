#pragma once
// A scratch folder, a recording observer, small images and an opened picture with its undo
// history for the editing-layer tests.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/test_data.h"
#include "edit/edit_observer.h"
#include "edit/open_command.h"
#include "edit/state_files.h"
#include "edit/undo_store.h"
#include "imaging/engine_state.h"

namespace jx::test {

class ScratchFolder {
public:
    ScratchFolder() {
        std::string t = (std::filesystem::temp_directory_path() / "jx_edit_XXXXXX").string();
        path_ = ::mkdtemp(t.data());
    }
    ~ScratchFolder() { std::filesystem::remove_all(path_); }
    std::string Path() const { return path_ + "/"; }
    std::vector<std::string> Files() const {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(path_)) out.push_back(e.path().filename().string());
        return out;
    }

private:
    std::string path_;
};

class FakeWindow : public EditObserver {
public:
    std::vector<TCommitStage> stages;
    std::vector<std::string> warnings;
    std::vector<std::string> status = std::vector<std::string>(4);
    std::string colorCount;
    int views = 0;
    int masksRestored = 0;
    int cleared = 0;

    void CommitStage(TCommitStage s) override { stages.push_back(s); }
    void Warning(const std::string& text) override { warnings.push_back(text); }
    void MaskRestored(bool) override { ++masksRestored; }
    void ShowColorCount(const std::string& text) override { colorCount = text; }
    void Refresh(TRefreshTarget t) override { views += t == TRefreshTarget::ImageView; }
    void StatusText(int32_t panel, const std::string& text) override {
        if (panel >= 0 && panel < 4) status[static_cast<size_t>(panel)] = text;
    }
};

inline TPixelImage Pixels(int32_t w, int32_t h, uint32_t seed, int colours = 6) {
    TPixelImage img(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            const uint32_t k = (static_cast<uint32_t>(x * 7 + y * 13) + seed) % static_cast<uint32_t>(colours);
            TPixelRec& p = img[y][x];
            p.R = static_cast<uint8_t>(40 * k);
            p.G = static_cast<uint8_t>(255 - 30 * k);
            p.B = static_cast<uint8_t>(17 * k + seed);
            p.A = 255;
        }
    return img;
}

// A photograph stand-in: smooth shading, fine grain and hard edges. Quantized, it meets
// nearest-colour ties and a first mapping that no nearest-colour remap repeats.
inline TPixelImage Photograph(int32_t w = 160, int32_t h = 120, uint32_t seed = 7) {
    TPixelImage img(w, h);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const double u = double(x) / w, v = double(y) / h;
            const int grain = int(seed >> 29) - 4;
            const int edge = (x > w / 3 && y < h / 2) ? 60 : 0;
            TPixelRec& p = img[y][x];
            p.R = uint8_t(std::clamp(int(128 + 100 * std::sin(6 * u + 2 * v)) + grain - edge, 0, 255));
            p.G = uint8_t(std::clamp(int(110 + 90 * std::cos(5 * v - 3 * u * v)) + grain, 0, 255));
            p.B = uint8_t(std::clamp(int(90 + 80 * std::sin(9 * u * v + 1)) - grain + edge, 0, 255));
            p.A = 255;
        }
    return img;
}

inline uint32_t Pack(const TPixelRec& p) {
    return uint32_t(p.R) | uint32_t(p.G) << 8 | uint32_t(p.B) << 16 | uint32_t(p.A) << 24;
}

inline std::vector<uint32_t> Rgba(const TPixelImage& img) {
    std::vector<uint32_t> out;
    for (const TPixelRec& p : img.Vector()) out.push_back(Pack(p));
    return out;
}

// What a state must give back: the source, output, mask and palette, channel by channel.
struct Snapshot {
    int32_t w = 0, h = 0, paletteSize = 0;
    std::vector<uint32_t> source, working, palette;
    std::vector<uint8_t> mask;
    bool operator==(const Snapshot&) const = default;
};

inline Snapshot Take(const EngineState& s) {
    Snapshot t{s.ImageWidth(), s.ImageHeight(), s.PaletteSize, Rgba(s.SourceImage), Rgba(s.WorkingImage), {},
               s.QualityMask.Vector()};
    for (int32_t i = 0; i < s.PaletteSize; ++i) t.palette.push_back(Pack(s.Palette[size_t(i)]));
    return t;
}

// An editor with its undo history; Open() loads a picture as the first state.
class EditTest : public ::testing::Test {
protected:
    void SetUp() override { undo_ = std::make_unique<TURClass>(session_.Path()); }

    // A 24-bit bitmap, or 32 bits when alpha is wanted.
    void Open(const TPixelImage& img, bool alpha = false) {
        TClipboardBitmap rgb{img.Width(), img.Height(), {}};
        for (const TPixelRec& p : img.Vector()) rgb.Bgr.insert(rgb.Bgr.end(), {p.B, p.G, p.R});
        const std::string file = pictures_.Path() + "picture.bmp";
        WriteBytes(file, alpha ? EncodeStateImage(img) : EncodeBmp24(rgb));
        TOpenTarget target{state_, settings_, window_, current_};
        ASSERT_TRUE(OpenImageCommand(target, file, *undo_));
    }

    ScratchFolder session_, pictures_;
    EngineState state_;
    TQuantizerSettings settings_;
    FakeWindow window_;
    TOpenedFile current_;
    std::unique_ptr<TURClass> undo_;
};

}  // namespace jx::test
