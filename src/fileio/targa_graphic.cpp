#include "fileio/targa_graphic.h"

#include <istream>
#include <ostream>

namespace jx {

const TGraphicClass& TTargaGraphic::ClassInfo() {
    static const TGraphicClass info{"TTargaGraphic",
                                    []() -> std::unique_ptr<TBitmap> { return std::make_unique<TTargaGraphic>(); }};
    return info;
}

bool TTargaGraphic::CheckStreamHeader(std::istream&) { return false; }
bool TTargaGraphic::ReadImageInfo(std::istream& s) { return TFormatGraphic::ReadImageInfo(s); }
void TTargaGraphic::LoadFromStream(std::istream&) { throw EInvalidGraphic("not yet"); }

}  // namespace jx
namespace jx { void TTargaGraphic::SaveToStream(std::ostream&) {} }
