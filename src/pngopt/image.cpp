#include "pngopt/image.h"

#include <sys/resource.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <new>
#include <unordered_map>

#include "fileio/errors.h"
#include "fileio/file_bytes.h"
#include "fileio/open_decoders.h"
#include "fileio/png_probe.h"
#include "fileio/ppm_graphic.h"
#include "platform/ascii.h"
#include "platform/byte_order.h"
#include "pngenc/png_chunks.h"
#include "pngenc/png_image.h"

namespace jx::quillox {
namespace {

void AllocatePixels(WorkImage& image) {
    CheckImageSize(image.width, image.height);
    try {
        image.rgba.assign(uint64_t(image.width) * image.height * 4, 0);
    } catch (const std::bad_alloc&) {
        throw InputError("Not enough memory for the image");
    }
}

// What this process may still take: the free memory the system reports, within the address
// space limit. 0 when neither is known.
uint64_t AvailableMemory() {
    uint64_t available = 0;
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    uint64_t kb = 0;
    while (meminfo >> key >> kb) {
        if (key == "MemAvailable:") {
            available = kb * 1024;
            break;
        }
        meminfo.ignore(256, '\n');
    }
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        uint64_t used = 0;
        std::ifstream status("/proc/self/status");
        while (status >> key) {
            if (key == "VmSize:") {
                status >> kb;
                used = kb * 1024;
                break;
            }
            status.ignore(256, '\n');
        }
        const uint64_t room = limit.rlim_cur > used ? limit.rlim_cur - used : 0;
        available = available ? std::min(available, room) : room;
    }
    return available;
}

// The size checks every reader makes on the header, before it allocates anything.
void CheckHeaderSize(uint64_t width, uint64_t height, const ReadSettings& settings) {
    CheckImageSize(width, height);
    CheckWorkingMemory(width, height, settings.threads, AvailableMemory());
}

template <class F>
auto Guarded(F&& read) {
    try {
        return read();
    } catch (const InputError&) {
        throw;
    } catch (const PngError& e) {
        throw InputError(e.what());
    } catch (const FileIoError& e) {
        throw InputError(e.what());
    } catch (const std::bad_alloc&) {
        throw InputError("Not enough memory for the image");
    }
}

}  // namespace

InputKind InputKindOf(const std::string& fileName) {
    size_t slash = fileName.rfind('/');
    size_t dot = fileName.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return InputKind::Unsupported;
    std::string ext = AsciiLower(fileName.substr(dot));
    if (ext == ".png") return InputKind::Png;
    if (ext == ".bmp") return InputKind::Bmp;
    if (ext == ".ppm") return InputKind::Ppm;
    return InputKind::Unsupported;
}

void CheckImageSize(uint64_t width, uint64_t height) {
    if (width == 0 || height == 0) throw InputError("Image has no pixels");
    if (width > 0x7fffffff || height > 0x7fffffff || width * height * 8 >= kMaxImageBytes)
        throw InputError("Image too large: " + std::to_string(width) + "x" + std::to_string(height));
}

uint64_t WorkingMemory(uint64_t width, uint64_t height, size_t threads) {
    // The working image and the output image at 8 bytes a pixel each, and per trial thread an
    // encoder's pixel rows, filtered rows and compressed stream.
    return width * height * (16 + 12 * uint64_t(std::max<size_t>(threads, 1)));
}

void CheckWorkingMemory(uint64_t width, uint64_t height, size_t threads, uint64_t available) {
    const uint64_t need = WorkingMemory(width, height, threads);
    if (available == 0 || need <= available) return;
    auto mb = [](uint64_t bytes) { return std::to_string((bytes + (1 << 20) - 1) >> 20) + " MB"; };
    throw InputError("Not enough memory for a " + std::to_string(width) + "x" + std::to_string(height) +
                     " image: about " + mb(need) + " needed, " + mb(available) + " available");
}

namespace {

// The first sound gAMA; CopyMetadataChunks reports the others.
void TakeFirstSoundGamma(const PngImage& png, WorkImage& image) {
    for (const PngChunk& c : png.Chunks) {
        if (c.Name != "gAMA" || c.Data.size() != 4) continue;
        const uint32_t gamma = BigEndian32(c.Data.data());
        if (gamma == 0) continue;
        image.hasGamma = true;
        image.gamma = gamma;
        break;
    }
}

// The decoded samples in working units (16 bits a channel), with the key, the palette and its indices.
void TakePngPixels(const PngImage& png, WorkImage& image) {
    const int depth = png.BitDepth();
    const bool wide = depth == 16;
    const int grayScale = depth == 1 ? 255 : depth == 2 ? 85 : depth == 4 ? 17 : 1;
    if (png.Key) {
        // The key is held in working units, so pixels compare with it directly.
        image.hasTrns = true;
        const PngKey& k = *png.Key;
        image.key = png.ColorType() == kPngGrey ? Rgb16{k.Grey, k.Grey, k.Grey} : Rgb16{k.R, k.G, k.B};
        if (!wide) {
            auto unit = [&](uint16_t v) { return uint16_t(std::min<uint32_t>((v & 0xFF) * grayScale, 255) << 8); };
            image.key = {unit(image.key.r), unit(image.key.g), unit(image.key.b)};
        }
    }
    if (png.ColorType() == kPngPalette) {
        for (size_t i = 0; i < png.Palette.size(); ++i) {
            const PngRgb& e = png.Palette[i];
            image.palette.push_back({e.R, e.G, e.B, i < png.PaletteAlpha.size() ? png.PaletteAlpha[i] : uint8_t(255)});
        }
        // A tRNS longer than the palette counts only as far as the palette goes.
        image.hasTrns = std::min(png.PaletteAlpha.size(), png.Palette.size()) > 0;
        image.indices.resize(uint64_t(image.width) * image.height);
    }
    const uint16_t opaque = image.OpaqueAlpha();
    auto sample = [&](uint32_t x, uint32_t y, unsigned c) -> uint16_t {
        const uint16_t v = png.Sample(x, y, c);
        return wide ? v : uint16_t(v << 8);
    };
    for (uint32_t y = 0; y < image.height; ++y) {
        for (uint32_t x = 0; x < image.width; ++x) {
            uint16_t* p = image.Pixel(x, y);
            switch (png.ColorType()) {
                case kPngPalette: {
                    const uint16_t index = png.Sample(x, y, 0);
                    if (index >= image.palette.size()) throw InputError("Palette index out of range");
                    image.indices[uint64_t(y) * image.width + x] = uint8_t(index);
                    const PaletteEntry& e = image.palette[index];
                    p[0] = uint16_t(e.r << 8);
                    p[1] = uint16_t(e.g << 8);
                    p[2] = uint16_t(e.b << 8);
                    p[3] = uint16_t(e.a << 8);
                    break;
                }
                case kPngGrey: {
                    const uint16_t v = wide ? png.Sample(x, y, 0) : uint16_t((png.Sample(x, y, 0) * grayScale) << 8);
                    p[0] = p[1] = p[2] = v;
                    p[3] = (png.Key && v == image.key.r) ? 0 : opaque;
                    break;
                }
                case kPngGreyAlpha:
                    p[0] = p[1] = p[2] = sample(x, y, 0);
                    p[3] = sample(x, y, 1);
                    break;
                case kPngRgb:
                    for (unsigned c = 0; c < 3; ++c) p[c] = sample(x, y, c);
                    p[3] = (png.Key && p[0] == image.key.r && p[1] == image.key.g && p[2] == image.key.b) ? 0 : opaque;
                    break;
                default:
                    for (unsigned c = 0; c < 4; ++c) p[c] = sample(x, y, c);
                    break;
            }
        }
    }
}

}  // namespace

WorkImage ReadPng(const std::vector<uint8_t>& bytes, const ReadSettings& settings) {
    PngDecodeOptions decode;
    if (settings.gammaMode == GammaMode::ApplyAndRemove) decode.ScreenGamma = 2.2;
    decode.CheckSize = [&](uint32_t w, uint32_t h) { CheckHeaderSize(w, h, settings); };
    std::vector<std::string> dropped, extra;
    decode.DroppedChunks = &dropped;
    decode.Warnings = &extra;
    uint64_t afterEnd = 0;
    const PngImage png = Guarded([&] {
        // An animation is refused as such, before its frames are looked at.
        const std::vector<pngenc::ChunkRef> chunks = pngenc::WalkChunks(bytes, false);
        for (const pngenc::ChunkRef& c : chunks)
            if (c.name == "acTL") throw InputError("APNG not supported.");
        if (!chunks.empty() && chunks.back().name == "IEND") afterEnd = bytes.size() - (chunks.back().data + chunks.back().length + 4);
        return PngImage::Decode(bytes, decode);
    });

    WorkImage image;
    image.kind = InputKind::Png;
    image.fileSize = bytes.size();
    for (const std::string& name : dropped) image.warnings.push_back(name + ": CRC error, chunk dropped");
    image.warnings.insert(image.warnings.end(), extra.begin(), extra.end());
    // The output ends at its IEND, so whatever followed the input's is not carried over.
    if (afterEnd > 0) image.warnings.push_back(std::to_string(afterEnd) + " bytes after the IEND chunk are dropped");
    image.chunkNames = png.FileChunkNames;
    for (const PngChunk& c : png.Chunks) image.chunks.push_back({c.Name, c.Data, c.Place == PngChunkPlace::AfterIdat});
    std::copy(png.FiltersUsed.begin(), png.FiltersUsed.end(), std::back_inserter(image.filtersUsed));
    image.rowFilters = png.RowFilters;
    if (image.rowFilters.size() > 65536) image.rowFilters.resize(65536);
    image.width = png.Width();
    image.height = png.Height();
    image.pngColorType = static_cast<PngColorType>(png.ColorType());
    image.pngBitDepth = png.BitDepth();
    image.interlaced = png.Interlace == 1;
    TakeFirstSoundGamma(png, image);
    image.sampleDepth = png.BitDepth() == 16 ? 16 : 8;
    AllocatePixels(image);

    TakePngPixels(png, image);
    if (settings.cleanTransparent && png.ColorType() != kPngPalette) CleanTransparentPixels(image);
    return image;
}

WorkImage ReadBmp(const std::vector<uint8_t>& bytes, const ReadSettings& settings) {
    TBmpReadOptions read;
    read.IndexPastTable = TIndexPastTable::Refuse;
    read.CheckSize = [&](int64_t w, int64_t h) { CheckHeaderSize(uint64_t(w), uint64_t(h), settings); };
    TDecodedImage decoded = Guarded([&] { return DecodeBmpBytes(bytes, read); });

    WorkImage image;
    image.kind = InputKind::Bmp;
    image.fileSize = bytes.size();
    image.warnings = std::move(decoded.Warnings);
    image.width = uint32_t(decoded.Pixels.Width());
    image.height = uint32_t(decoded.Pixels.Height());
    image.sampleDepth = 8;
    image.pngColorType = kPngRgba;
    AllocatePixels(image);
    const TPixelRec* src = decoded.Pixels.Data();
    for (uint64_t i = 0; i < uint64_t(decoded.Pixels.Count()); ++i) {
        uint16_t* p = &image.rgba[i * 4];
        p[0] = uint16_t(src[i].R << 8);
        p[1] = uint16_t(src[i].G << 8);
        p[2] = uint16_t(src[i].B << 8);
        p[3] = uint16_t(src[i].A << 8);
    }
    decoded = {};
    if (settings.cleanTransparent) CleanTransparentPixels(image);
    return image;
}

WorkImage ReadPpm(const std::vector<uint8_t>& bytes, const ReadSettings& settings) {
    if (bytes.size() < 2 || bytes[0] != 'P' || bytes[1] != '6' || (bytes.size() > 2 && !std::isspace(bytes[2]) && bytes[2] != '#'))
        throw InputError("Unsupported PPM format (only binary P6 is read)");
    const TPPMRaster h = Guarded([&] { return ReadPPMHeader(bytes); });
    CheckHeaderSize(uint64_t(h.Width), uint64_t(h.Height), settings);
    const uint64_t maxValue = uint64_t(h.MaxValue);
    const int sampleBytes = maxValue > 255 ? 2 : 1;

    WorkImage image;
    image.kind = InputKind::Ppm;
    image.fileSize = bytes.size();
    image.width = static_cast<uint32_t>(h.Width);
    image.height = static_cast<uint32_t>(h.Height);
    image.sampleDepth = sampleBytes == 2 ? 16 : 8;
    image.pngColorType = kPngRgb;
    image.pngBitDepth = image.sampleDepth;
    AllocatePixels(image);
    const uint16_t opaque = image.OpaqueAlpha();
    const uint8_t* src = bytes.data() + h.DataOffset;
    for (uint64_t i = 0; i < uint64_t(h.Width) * uint64_t(h.Height); ++i) {
        uint16_t* p = &image.rgba[i * 4];
        for (int c = 0; c < 3; ++c) {
            uint64_t v = sampleBytes == 2 ? uint64_t(src[0] << 8 | src[1]) : src[0];
            src += sampleBytes;
            if (v > maxValue) throw InputError("PPM sample above the maximum value");
            if (sampleBytes == 2) p[c] = static_cast<uint16_t>((v * 65535 + maxValue / 2) / maxValue);
            else p[c] = static_cast<uint16_t>(((v * 255 + maxValue / 2) / maxValue) << 8);
        }
        p[3] = opaque;
    }
    // A further image, or a width or height damaged smaller, leaves at least a row unread; a
    // closing line feed does not.
    const uint64_t rowBytes = uint64_t(h.Width) * 3 * uint64_t(sampleBytes);
    if (uint64_t(bytes.data() + bytes.size() - src) >= rowBytes)
        image.warnings.push_back("holds more data than one " + std::to_string(h.Width) + "x" + std::to_string(h.Height) +
                                 " image; only the first is read");
    if (settings.cleanTransparent) CleanTransparentPixels(image);
    return image;
}

std::vector<uint8_t> ReadInputBytes(const std::string& fileName) {
    return Guarded([&] { return ReadFileBytes(fileName); });
}

WorkImage ReadInputFile(const std::string& fileName, const ReadSettings& settings) {
    InputKind kind = InputKindOf(fileName);
    if (kind == InputKind::Unsupported) throw InputError("Unsupported file type");
    std::vector<uint8_t> bytes = ReadInputBytes(fileName);
    WorkImage image = kind == InputKind::Png   ? ReadPng(bytes, settings)
                      : kind == InputKind::Bmp ? ReadBmp(bytes, settings)
                                               : ReadPpm(bytes, settings);
    Analyze(image);
    return image;
}

void CleanTransparentPixels(WorkImage& image) {
    for (uint64_t i = 0; i < image.rgba.size(); i += 4)
        if (image.rgba[i + 3] == 0) image.rgba[i] = image.rgba[i + 1] = image.rgba[i + 2] = 0;
}

void Analyze(WorkImage& image) {
    Analysis a;
    std::unordered_map<uint64_t, uint32_t> index;
    index.reserve(512);
    const bool wide = image.sampleDepth == 16;
    const uint16_t opaque = image.OpaqueAlpha();
    for (uint64_t i = 0; i < image.rgba.size(); i += 4) {
        const uint16_t* p = &image.rgba[i];
        if (p[3] == 0) a.lastTransparent = {p[0], p[1], p[2]};
        if (p[0] != p[1] || p[1] != p[2]) a.grey = false;
        if (wide && a.eightBitEnough)
            for (int c = 0; c < 4; ++c)
                if ((p[c] >> 8) != (p[c] & 0xFF)) a.eightBitEnough = false;
        if (a.colorCount <= 256) {
            uint64_t v = uint64_t(p[0]) << 48 | uint64_t(p[1]) << 32 | uint64_t(p[2]) << 16 | p[3];
            auto it = index.find(v);
            if (it != index.end()) {
                ++a.colorTable[it->second].count;
            } else if (a.colorCount < 256) {
                index.emplace(v, static_cast<uint32_t>(a.colorTable.size()));
                a.colorTable.push_back({v, 1});
                ++a.colorCount;
            } else {
                a.colorCount = 257;  // more than 256: the table stays as it is
            }
        }
        if (p[3] == 0) ++a.transparent;
        else if (wide ? p[3] != 0xFFFF : p[3] < opaque) ++a.partial;
        else ++a.opaque;
    }
    image.analysis = std::move(a);
}

}  // namespace jx::quillox
