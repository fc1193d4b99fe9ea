#include "fileio/targa_graphic.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzLoad<jx::TTargaGraphic>(data, size, true);
    return 0;
}
