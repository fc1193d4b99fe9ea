#pragma once
#include <iosfwd>

#include "fileio/format_graphic.h"

namespace jx {

// Truevision (Targa) images: reads types 1-3 and 9-11 at 8, 15, 16, 24 and
// 32 bits; writes uncompressed files, or run-length ones when Compressed.
class TTargaGraphic : public TFormatGraphic {
public:
    static const TGraphicClass& ClassInfo();

    bool CheckStreamHeader(std::istream& stream) override;
    bool ReadImageInfo(std::istream& stream) override;
    void LoadFromStream(std::istream& stream) override;
    void SaveToStream(std::ostream& stream) override;

    // Write run-length packets (image type 9 or 10) instead of raw rows.
    bool Compressed = false;
};

}  // namespace jx
