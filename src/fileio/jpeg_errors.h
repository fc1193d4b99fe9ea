#pragma once
// libjpeg's errors as a jump back to the decoder's setjmp, with the library's message kept;
// its warnings (damaged or cut-short data that still decodes) are counted for the caller.
#include <jpeglib.h>
// jpeglib.h must come first.
#include <jerror.h>

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <string>

namespace jx {

struct TJpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool cutShort = false;             // the data ended before the image did
    char warning[JMSG_LENGTH_MAX];     // the first warning's text, "" without one
};

// cinfo's error manager := e, its message emptied. The caller does setjmp(e.jump) before any call
// that may fail; no object with a destructor may live between that setjmp and the failing call.
inline jpeg_error_mgr* UseJpegErrors(TJpegErrorManager& e) {
    jpeg_std_error(&e.pub);
    e.pub.error_exit = [](j_common_ptr c) {
        auto* m = reinterpret_cast<TJpegErrorManager*>(c->err);
        (*c->err->format_message)(c, m->message);
        std::longjmp(m->jump, 1);
    };
    e.pub.emit_message = [](j_common_ptr c, int level) {
        if (level >= 0) return;  // trace messages
        auto* m = reinterpret_cast<TJpegErrorManager*>(c->err);
        if (c->err->msg_code == JWRN_JPEG_EOF) m->cutShort = true;
        if (c->err->num_warnings++ == 0) (*c->err->format_message)(c, m->warning);
    };
    e.message[0] = '\0';
    e.warning[0] = '\0';
    e.cutShort = false;
    return &e.pub;
}

// What the user is told about a decode that finished with warnings; "" without any.
inline std::string JpegWarningText(const TJpegErrorManager& e) {
    if (e.cutShort) return "the file is cut short; its missing part shows grey";
    if (e.pub.num_warnings > 0) return std::string("the data is damaged (") + e.warning + ")";
    return {};
}

// Every 8x8 block codes its DC value in at least one bit, so a header that claims more blocks
// than the data could describe is a bomb: refuse it before libjpeg sizes its buffers (a
// progressive decode holds all coefficients at once, whatever the output scale).
inline bool JpegHeaderFitsData(const jpeg_decompress_struct& cinfo, size_t fileBytes) {
    return (uint64_t{cinfo.image_width} + 7) / 8 * ((uint64_t{cinfo.image_height} + 7) / 8) <=
           uint64_t(fileBytes) * 8;
}

}  // namespace jx
