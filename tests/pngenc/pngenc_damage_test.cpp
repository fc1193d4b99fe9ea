// Damaged input of every kind raises PngError with a message, never crashes.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

#include "common/test_data.h"
#include "pngenc/png_chunks.h"
#include "pngenc_test_util.h"

namespace jx {
namespace {

std::string DecodeError(const std::vector<uint8_t>& file) {
    try {
        PngImage::Decode(file);
    } catch (const PngError& e) {
        return e.what();
    }
    return "";
}

void PutBe32(std::vector<uint8_t>& f, size_t pos, uint32_t v) {
    f[pos] = uint8_t(v >> 24);
    f[pos + 1] = uint8_t(v >> 16);
    f[pos + 2] = uint8_t(v >> 8);
    f[pos + 3] = uint8_t(v);
}

// Rewrites IHDR's fields and its CRC so only the values are wrong.
std::vector<uint8_t> WithHeader(std::vector<uint8_t> f, uint32_t w, uint32_t h, uint8_t depth, uint8_t type) {
    PutBe32(f, 16, w);
    PutBe32(f, 20, h);
    f[24] = depth;
    f[25] = type;
    PutBe32(f, 29, uint32_t(crc32(0, &f[12], 17)));
    return f;
}

std::vector<uint8_t> SmallFile() {
    PngImage img = test::MakeImage(9, 7, kPngRgb, 8);
    return img.Encode();
}

TEST(PngDamage, EveryTruncationIsRefused) {
    for (const char* name : {"basn2c08", "basi3p02", "s01n3p01"}) {
        auto file = test::ReadBytes(test::PngSuiteDir() / (std::string(name) + ".png"));
        for (size_t len = 0; len < file.size(); ++len) {
            std::vector<uint8_t> cut(file.begin(), file.begin() + long(len));
            EXPECT_FALSE(DecodeError(cut).empty()) << name << " cut at " << len;
        }
    }
}

TEST(PngDamage, AnyFlippedByteIsRefused) {
    // Every byte after the signature is covered by a length, a name or a CRC.
    auto file = SmallFile();
    for (size_t i = 8; i < file.size(); ++i) {
        auto bad = file;
        bad[i] ^= 0x20;
        EXPECT_FALSE(DecodeError(bad).empty()) << "byte " << i;
    }
    auto bad = file;
    bad[40] ^= 1;
    EXPECT_NE(DecodeError(bad).find("CRC"), std::string::npos);
}

TEST(PngDamage, HeaderSizesAreChecked) {
    auto file = SmallFile();
    EXPECT_NE(DecodeError(WithHeader(file, 0, 7, 8, 2)).find("zero"), std::string::npos);
    EXPECT_NE(DecodeError(WithHeader(file, 9, 0, 8, 2)).find("zero"), std::string::npos);
    EXPECT_NE(DecodeError(WithHeader(file, 0x80000000u, 7, 8, 2)).find("range"), std::string::npos);
    EXPECT_NE(DecodeError(WithHeader(file, 0x7FFFFFFF, 0x7FFFFFFF, 8, 2)).find("too large"), std::string::npos);
    EXPECT_NE(DecodeError(WithHeader(file, 100000, 100000, 8, 6)).find("too large"), std::string::npos);
    EXPECT_FALSE(DecodeError(WithHeader(file, 9, 7, 3, 2)).empty());
    EXPECT_FALSE(DecodeError(WithHeader(file, 9, 7, 8, 5)).empty());
    // A plausible header over too little image data.
    EXPECT_NE(DecodeError(WithHeader(file, 90, 70, 8, 2)).find("truncated"), std::string::npos);
}

TEST(PngDamage, RowFilterAboveFourIsDamage) {
    // A stored row whose filter byte is 5, in a well-formed stream with valid CRCs.
    std::vector<uint8_t> raw = {5, 1, 2, 3};
    uLongf len = compressBound(raw.size());
    std::vector<uint8_t> z(len);
    compress(z.data(), &len, raw.data(), raw.size());
    z.resize(len);
    PngImage img(3, 1, kPngGrey, 8);
    auto file = img.Encode();
    // Replace the IDAT chunk (it follows IHDR at offset 33).
    std::vector<uint8_t> out(file.begin(), file.begin() + 33);
    std::vector<uint8_t> chunk = {0, 0, 0, 0, 'I', 'D', 'A', 'T'};
    PutBe32(chunk, 0, uint32_t(z.size()));
    chunk.insert(chunk.end(), z.begin(), z.end());
    chunk.resize(chunk.size() + 4);
    PutBe32(chunk, chunk.size() - 4, uint32_t(crc32(0, &chunk[4], uInt(z.size() + 4))));
    out.insert(out.end(), chunk.begin(), chunk.end());
    out.insert(out.end(), file.end() - 12, file.end());
    std::string msg = DecodeError(out);
    EXPECT_NE(msg.find("filter type 5"), std::string::npos) << msg;
}

TEST(PngDamage, StructuralFaults) {
    auto file = SmallFile();
    EXPECT_NE(DecodeError({}).find("signature"), std::string::npos);
    std::vector<uint8_t> noIend(file.begin(), file.end() - 12);
    EXPECT_NE(DecodeError(noIend).find("IEND"), std::string::npos);
    // IHDR followed directly by IEND: no image data.
    std::vector<uint8_t> noIdat(file.begin(), file.begin() + 33);
    noIdat.insert(noIdat.end(), file.end() - 12, file.end());
    EXPECT_NE(DecodeError(noIdat).find("IDAT"), std::string::npos);
    EXPECT_THROW(PngImage::DecodeFile("/nonexistent/none.png"), PngError);
}

std::vector<std::string> WalkNames(const std::vector<uint8_t>& file, pngenc::WalkEnd end,
                                   std::vector<std::string>* dropped = nullptr) {
    std::vector<std::string> names;
    for (const pngenc::ChunkRef& c : pngenc::WalkChunks(file, true, dropped, end)) names.push_back(c.name);
    return names;
}

// The decoder stops at IEND (or after the image data); a caller that copies the file chunk by
// chunk walks on to its end, with the same checks on what follows IEND.
TEST(PngDamage, TheChunkWalkEndsWhereItsCallerAsks) {
    const auto file = SmallFile();
    std::vector<uint8_t> trailing = file;
    std::vector<uint8_t> text = {0, 0, 0, 3, 't', 'E', 'X', 't', 'k', 0, 'v', 0, 0, 0, 0};
    PutBe32(text, 11, uint32_t(crc32(0, &text[4], 7)));
    trailing.insert(trailing.end(), text.begin(), text.end());
    const std::vector<std::string> whole = {"IHDR", "IDAT", "IEND"};
    EXPECT_EQ(WalkNames(trailing, pngenc::WalkEnd::Iend), whole);
    EXPECT_EQ(WalkNames(trailing, pngenc::WalkEnd::ImageData), (std::vector<std::string>{"IHDR", "IDAT"}));
    EXPECT_EQ(WalkNames(trailing, pngenc::WalkEnd::FileEnd), (std::vector<std::string>{"IHDR", "IDAT", "IEND", "tEXt"}));
    EXPECT_EQ(WalkNames(file, pngenc::WalkEnd::FileEnd), whole);
    const auto walked = pngenc::WalkChunks(trailing, true, nullptr, pngenc::WalkEnd::FileEnd);
    EXPECT_EQ(walked.back().data, file.size() + 8);
    EXPECT_EQ(walked.back().length, 3u);

    // An ancillary chunk after IEND with a bad CRC is dropped like any other.
    std::vector<uint8_t> badCrc = trailing;
    badCrc.back() ^= 1;
    std::vector<std::string> dropped;
    EXPECT_EQ(WalkNames(badCrc, pngenc::WalkEnd::FileEnd, &dropped), whole);
    EXPECT_EQ(dropped, std::vector<std::string>{"tEXt"});
    EXPECT_THROW(WalkNames(badCrc, pngenc::WalkEnd::FileEnd), PngError);

    // Walking to the end asks no less of the file: IEND must be there, and what follows whole.
    std::vector<uint8_t> noIend(file.begin(), file.end() - 12);
    try {
        WalkNames(noIend, pngenc::WalkEnd::FileEnd);
        ADD_FAILURE() << "a file without IEND was walked";
    } catch (const PngError& e) {
        EXPECT_NE(std::string(e.what()).find("no IEND"), std::string::npos) << e.what();
    }
    std::vector<uint8_t> cut(trailing.begin(), trailing.end() - 2);
    EXPECT_THROW(WalkNames(cut, pngenc::WalkEnd::FileEnd), PngError);
    std::vector<uint8_t> junk = file;
    junk.insert(junk.end(), {1, 2, 3, 4, 5});
    EXPECT_THROW(WalkNames(junk, pngenc::WalkEnd::FileEnd), PngError);
    EXPECT_EQ(WalkNames(junk, pngenc::WalkEnd::Iend), whole);
}

TEST(PngDamage, ErrorsFoundByLibpngBecomePngError) {
    // A PLTE of 4 bytes, with a valid CRC: only the codec itself knows it is wrong.
    PngImage img(4, 4, kPngPalette, 8);
    img.Palette.resize(2);
    auto file = img.Encode();
    ASSERT_EQ(std::string(file.begin() + 37, file.begin() + 41), "PLTE");
    std::vector<uint8_t> out(file.begin(), file.begin() + 33);
    std::vector<uint8_t> plte = {0, 0, 0, 4, 'P', 'L', 'T', 'E', 1, 2, 3, 4, 0, 0, 0, 0};
    PutBe32(plte, 12, uint32_t(crc32(0, &plte[4], 8)));
    out.insert(out.end(), plte.begin(), plte.end());
    out.insert(out.end(), file.begin() + 33 + 18, file.end());
    EXPECT_NE(DecodeError(out).find("PLTE"), std::string::npos);
}

TEST(PngDamage, DamagedTextChunkIsReported) {
    PngChunk c{"zTXt", {'k', 0, 0, 1, 2, 3}, PngChunkPlace::BeforeIdat};
    EXPECT_THROW(PngImage::ReadText(c), PngError);
    PngChunk noKeyword{"tEXt", {'a', 'b'}, PngChunkPlace::BeforeIdat};
    EXPECT_THROW(PngImage::ReadText(noKeyword), PngError);
}

// Adds bytes at the end of the last IDAT chunk's data, length and CRC made to match.
std::vector<uint8_t> AppendToImageData(const std::vector<uint8_t>& f, const std::vector<uint8_t>& extra) {
    size_t pos = 8, last = 0;
    while (pos + 12 <= f.size()) {
        if (std::memcmp(&f[pos + 4], "IDAT", 4) == 0) last = pos;
        pos += 12 + test::Be32(&f[pos]);
    }
    const uint32_t length = test::Be32(&f[last]);
    std::vector<uint8_t> out(f.begin(), f.begin() + long(last + 8 + length));
    out.insert(out.end(), extra.begin(), extra.end());
    PutBe32(out, last, length + uint32_t(extra.size()));
    const uint32_t crc = uint32_t(crc32(0, &out[last + 4], uInt(length + extra.size() + 4)));
    out.insert(out.end(), 4, 0);
    PutBe32(out, out.size() - 4, crc);
    out.insert(out.end(), f.begin() + long(last + 12 + length), f.end());
    return out;
}

// More image data than the header's size holds: the rows it names are read all the same, and a
// caller that asks is told what lay past them.
TEST(PngDamage, ImageDataPastTheHeaderIsReported) {
    const auto whole = test::ReadBytes(test::PngSuiteDir() / "basn2c08.png");
    std::vector<std::string> warnings;
    PngDecodeOptions options;
    options.Warnings = &warnings;
    const PngImage full = PngImage::Decode(whole, options);
    EXPECT_TRUE(warnings.empty());

    // The height 32 cut to 4, its CRC fixed: 28 rows of 1 + 96 bytes too many.
    const PngImage four = PngImage::Decode(WithHeader(whole, 32, 4, 8, kPngRgb), options);
    EXPECT_EQ(four.Height(), 4u);
    EXPECT_EQ(std::memcmp(four.Row(3), full.Row(3), full.RowBytes()), 0);
    EXPECT_EQ(warnings, std::vector<std::string>{
                            "the image data holds more than the header's size (the width or height may be damaged)"});

    // Bytes after the end of the compressed stream, in its last chunk or in a chunk of their own.
    warnings.clear();
    PngImage::Decode(AppendToImageData(whole, {1, 2, 3, 4, 5}), options);
    EXPECT_EQ(warnings, std::vector<std::string>{"image data follows the end of the compressed stream"});
    std::vector<uint8_t> extraChunk(whole.begin(), whole.end() - 12);
    std::vector<uint8_t> chunk{0, 0, 0, 20, 'I', 'D', 'A', 'T'};
    chunk.insert(chunk.end(), 20, 7);
    extraChunk.insert(extraChunk.end(), chunk.begin(), chunk.end());
    extraChunk.insert(extraChunk.end(), 4, 0);
    PutBe32(extraChunk, extraChunk.size() - 4, uint32_t(crc32(0, &chunk[4], 24)));
    extraChunk.insert(extraChunk.end(), whole.end() - 12, whole.end());
    warnings.clear();
    PngImage::Decode(extraChunk, options);
    EXPECT_EQ(warnings, std::vector<std::string>{"20 bytes of image data follow the end of the compressed stream"});
    // Unasked, the same files read as before.
    EXPECT_EQ(PngImage::Decode(extraChunk).Height(), 32u);
}

}  // namespace
}  // namespace jx
