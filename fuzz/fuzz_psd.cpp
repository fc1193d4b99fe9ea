#include "fileio/psd_graphic.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzLoad<jx::TPSDGraphic>(data, size);
    return 0;
}
