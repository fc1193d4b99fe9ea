#pragma once
#include <array>
#include <cstdint>
#include <iosfwd>
#include <span>

#include "fileio/format_graphic.h"

namespace jx {

// The header of a portable bitmap, grey map or pixel map file (P1 to P6) and where its samples
// begin. For the binary types the rest of the file is checked to hold every sample, so a header
// that claims more than the file has fails before anything is allocated. Raises EInvalidGraphic.
struct TPPMRaster {
    int Type = 0;  // 1..6
    int64_t Width = 0, Height = 0, MaxValue = 1;
    size_t DataOffset = 0;
};
TPPMRaster ReadPPMHeader(std::span<const uint8_t> bytes);

// Portable bitmap, grey map and pixel map images, P1 to P6.
class TPPMGraphic : public TFormatGraphic {
public:
    static const TGraphicClass& ClassInfo();

    bool CheckStreamHeader(std::istream& stream) override;
    bool ReadImageInfo(std::istream& stream) override;
    void LoadFromStream(std::istream& stream) override;
};

}  // namespace jx
