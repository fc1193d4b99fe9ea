#pragma once
#include <iosfwd>

#include "fileio/format_graphic.h"

namespace jx {

// The flattened image of Photoshop files.
class TPSDGraphic : public TFormatGraphic {
public:
    static const TGraphicClass& ClassInfo();

    bool CheckStreamHeader(std::istream& stream) override;
    bool ReadImageInfo(std::istream& stream) override;
    void LoadFromStream(std::istream& stream) override;
};

}  // namespace jx
