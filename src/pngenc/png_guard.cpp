#include "pngenc/png_guard.h"

#include <csetjmp>
#include <cstring>

#include "pngenc/errors.h"

namespace jx::pngenc {

PngGuard::PngGuard(Kind kind) : kind_(kind) {
    png_ = kind == kRead ? png_create_read_struct(PNG_LIBPNG_VER_STRING, this, OnError, OnWarning)
                         : png_create_write_struct(PNG_LIBPNG_VER_STRING, this, OnError, OnWarning);
    if (png_) info_ = png_create_info_struct(png_);
    if (!png_ || !info_) {
        Destroy();
        throw PngError("PNG: cannot start libpng");
    }
}

PngGuard::~PngGuard() { Destroy(); }

void PngGuard::Destroy() {
    if (!png_) return;
    if (kind_ == kRead) png_destroy_read_struct(&png_, info_ ? &info_ : nullptr, nullptr);
    else png_destroy_write_struct(&png_, info_ ? &info_ : nullptr);
    png_ = nullptr;
    info_ = nullptr;
}

bool PngGuard::Call(png_structp png, void (*body)(void*), void* arg) {
    if (setjmp(png_jmpbuf(png))) return false;
    body(arg);
    return true;
}

void PngGuard::Fail(const char* prefix) const { throw PngError(std::string(prefix) + message_); }

void PngGuard::OnError(png_structp png, png_const_charp message) {
    auto* self = static_cast<PngGuard*>(png_get_error_ptr(png));
    std::strncpy(self->message_, message ? message : "unknown error", sizeof self->message_ - 1);
    png_longjmp(png, 1);
}

void PngGuard::OnWarning(png_structp png, png_const_charp message) {
    auto* self = static_cast<PngGuard*>(png_get_error_ptr(png));
    // Nothing may be thrown through libpng's C frames.
    try {
        if (message && self->warnings_.size() < 16) self->warnings_.emplace_back(message);
    } catch (...) {
    }
}

}  // namespace jx::pngenc
