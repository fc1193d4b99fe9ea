#include "fileio/jpeg_decode.h"

#include <jpeglib.h>
// jpeglib.h must come first.
#include <jerror.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace jx {
namespace {

// libjpeg's errors as a jump back to the decoder's setjmp, with the library's message kept; its
// warnings (damaged or cut-short data that still decodes) are kept for the caller.
struct TJpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool cutShort = false;          // the data ended before the image did
    char warning[JMSG_LENGTH_MAX];  // the first warning's text, "" without one
};

jpeg_error_mgr* UseJpegErrors(TJpegErrorManager& e) {
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
std::string JpegWarningText(const TJpegErrorManager& e) {
    if (e.cutShort) return "the file is cut short; its missing part shows grey";
    if (e.pub.num_warnings > 0) return std::string("the data is damaged (") + e.warning + ")";
    return {};
}

// Every 8x8 block codes its DC value in at least one bit, so a header that claims more blocks
// than the data could describe is a bomb: it is refused before libjpeg sizes its buffers (a
// progressive decode holds all coefficients at once, whatever the output scale).
bool HeaderFitsData(const jpeg_decompress_struct& cinfo, size_t fileBytes) {
    return (uint64_t{cinfo.image_width} + 7) / 8 * ((uint64_t{cinfo.image_height} + 7) / 8) <=
           uint64_t(fileBytes) * 8;
}

}  // namespace

// No object with a destructor lives between setjmp and a longjmp, so the jump skips nothing;
// the sink's calls never run while libjpeg does.
bool DecodeJpeg(std::span<const uint8_t> file, TJpegSink& sink, std::string& error, std::string* warning) {
    jpeg_decompress_struct cinfo;
    TJpegErrorManager jerr;
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = UseJpegErrors(jerr);
    unsigned char* volatile line = nullptr;
    if (setjmp(jerr.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::free(line);
        error = jerr.message;
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&cinfo, TRUE);
    unsigned denominator = 0;
    try {
        denominator = sink.Header(cinfo.image_width, cinfo.image_height, HeaderFitsData(cinfo, file.size()), error);
    } catch (const std::exception& e) {
        error = e.what();
    }
    if (denominator == 0) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    cinfo.scale_num = 1;
    cinfo.scale_denom = denominator;
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_start_decompress(&cinfo);
    const unsigned comps = static_cast<unsigned>(cinfo.output_components);
    bool started = false;
    if (comps != 3 && comps != 4) {
        error = "unsupported JPEG";
    } else {
        try {
            started = sink.Start(cinfo.output_width, cinfo.output_height, error);
        } catch (const std::exception& e) {
            error = e.what();
        }
    }
    if (started) {
        line = static_cast<unsigned char*>(std::malloc(size_t{cinfo.output_width} * comps));
        if (!line) error = "Out of memory";
    }
    if (!line) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    const TJpegLine decoded{line, comps, cmyk};
    while (cinfo.output_scanline < cinfo.output_height) {
        const uint32_t y = cinfo.output_scanline;
        JSAMPROW row = line;
        jpeg_read_scanlines(&cinfo, &row, 1);
        sink.Row(y, decoded);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::free(line);
    if (warning) *warning = JpegWarningText(jerr);
    return true;
}

}  // namespace jx
