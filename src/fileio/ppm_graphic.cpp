#include "fileio/ppm_graphic.h"

#include <istream>
#include <ostream>

namespace jx {

const TGraphicClass& TPPMGraphic::ClassInfo() {
    static const TGraphicClass info{"TPPMGraphic",
                                    []() -> std::unique_ptr<TBitmap> { return std::make_unique<TPPMGraphic>(); }};
    return info;
}

bool TPPMGraphic::CheckStreamHeader(std::istream&) { return false; }
bool TPPMGraphic::ReadImageInfo(std::istream& s) { return TFormatGraphic::ReadImageInfo(s); }
void TPPMGraphic::LoadFromStream(std::istream&) { throw EInvalidGraphic("not yet"); }

}  // namespace jx
