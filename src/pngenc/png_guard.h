#pragma once
// libpng reports errors by longjmp. The jump target lives in PngGuard::Call alone; the bodies it
// runs hold no objects with destructors across libpng calls, and a failure becomes a PngError.
#include <png.h>

#include <string>
#include <vector>

namespace jx::pngenc {

class PngGuard {
public:
    enum Kind { kRead, kWrite };
    explicit PngGuard(Kind kind);
    ~PngGuard();
    PngGuard(const PngGuard&) = delete;
    PngGuard& operator=(const PngGuard&) = delete;

    png_structp png() const { return png_; }
    png_infop info() const { return info_; }
    // What libpng warned of while reading (a damaged file it read past), in order.
    const std::vector<std::string>& warnings() const { return warnings_; }

    // Runs body under libpng's error handler; a libpng error raises PngError(prefix + message).
    template <class F>
    void Run(F& body, const char* prefix) {
        if (!Call(png_, [](void* arg) { (*static_cast<F*>(arg))(); }, &body)) Fail(prefix);
    }

private:
    void Destroy();
    static bool Call(png_structp png, void (*body)(void*), void* arg);
    [[noreturn]] void Fail(const char* prefix) const;
    static void OnError(png_structp png, png_const_charp message);
    static void OnWarning(png_structp png, png_const_charp message);

    Kind kind_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    char message_[256] = {};
    std::vector<std::string> warnings_;
};

}  // namespace jx::pngenc
