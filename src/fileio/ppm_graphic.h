#pragma once
#include <array>
#include <cstdint>
#include <iosfwd>

#include "fileio/format_graphic.h"

namespace jx {

// Portable bitmap, grey map and pixel map images, P1 to P6.
class TPPMGraphic : public TFormatGraphic {
public:
    static const TGraphicClass& ClassInfo();

    bool CheckStreamHeader(std::istream& stream) override;
    bool ReadImageInfo(std::istream& stream) override;
    void LoadFromStream(std::istream& stream) override;
};

}  // namespace jx
