#include "fileio/psd_graphic.h"

#include <istream>
#include <ostream>

namespace jx {

const TGraphicClass& TPSDGraphic::ClassInfo() {
    static const TGraphicClass info{"TPSDGraphic",
                                    []() -> std::unique_ptr<TBitmap> { return std::make_unique<TPSDGraphic>(); }};
    return info;
}

bool TPSDGraphic::CheckStreamHeader(std::istream&) { return false; }
bool TPSDGraphic::ReadImageInfo(std::istream& s) { return TFormatGraphic::ReadImageInfo(s); }
void TPSDGraphic::LoadFromStream(std::istream&) { throw EInvalidGraphic("not yet"); }

}  // namespace jx
