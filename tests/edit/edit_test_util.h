#pragma once
// A scratch folder, a recording observer and small images for the editing-layer tests.
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "edit/edit_observer.h"
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

}  // namespace jx::test
