#include "pngopt/pngenc/png_image.h"

namespace jx {

std::vector<uint8_t> PngImage::Encode() { throw PngError("PNG: encoder not available yet"); }
PngFilterChoice PngImage::ChooseFilters() { throw PngError("PNG: encoder not available yet"); }
void PngImage::SaveFile(const std::filesystem::path&) { throw PngError("PNG: encoder not available yet"); }
PngImage PngImage::Decode(std::span<const uint8_t>) { throw PngError("PNG: decoder not available yet"); }
PngImage PngImage::DecodeFile(const std::filesystem::path&) { throw PngError("PNG: decoder not available yet"); }
std::vector<std::string> PngImage::ListChunks(std::span<const uint8_t>) { throw PngError("PNG: not available yet"); }

}  // namespace jx
