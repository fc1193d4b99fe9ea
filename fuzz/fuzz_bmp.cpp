// The bitmap reader both programs use, as jx reads it (indices past the table are black) and as
// quillox does (they refuse the file).
#include "fileio/open_decoders.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> bytes(data, size);
    for (jx::TIndexPastTable past : {jx::TIndexPastTable::Black, jx::TIndexPastTable::Refuse}) {
        jx::TBmpReadOptions options;
        options.IndexPastTable = past;
        // Large images only slow the run down; their bounds have tests of their own.
        options.CheckSize = [](int64_t w, int64_t h) {
            if (w * h > (int64_t{1} << 22)) throw jx::FileIoError("larger than the fuzz run takes");
        };
        jx::TDecodedImage image;
        if (fuzz::Refused([&] { image = jx::DecodeBmpBytes(bytes, options); })) continue;
        if (image.Pixels.Empty()) fuzz::Finding("an opened bitmap without pixels");
    }
    return 0;
}
