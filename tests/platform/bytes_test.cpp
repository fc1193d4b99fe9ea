// The byte helpers every reader shares: whole files, byte order, case folding.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/ascii.h"
#include "platform/byte_order.h"
#include "platform/read_file.h"
#include "platform_test_util.h"

namespace {

using jx::FileReadFailure;

TEST(ReadWholeFile, ReadsEveryByteAndRefusesWhatItCannotRead) {
    jx::test::TempDir tmp;
    const std::string file = (tmp.path / "data.bin").string();
    std::string text(70000, '\0');
    for (size_t i = 0; i < text.size(); ++i) text[i] = char(i * 7);
    jx::test::WriteText(file, text);

    std::vector<uint8_t> bytes{1, 2, 3};
    int error = -1;
    ASSERT_EQ(jx::ReadWholeFile(file, text.size(), bytes, &error), FileReadFailure::None);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), text);
    EXPECT_EQ(error, 0);

    // One byte over the limit is refused before anything is read.
    EXPECT_EQ(jx::ReadWholeFile(file, text.size() - 1, bytes), FileReadFailure::TooLarge);
    EXPECT_TRUE(bytes.empty());

    EXPECT_EQ(jx::ReadWholeFile((tmp.path / "none").string(), 100, bytes, &error), FileReadFailure::CannotOpen);
    EXPECT_EQ(error, ENOENT);

    // A folder, and a pipe that would block the reader, are not files to read.
    EXPECT_EQ(jx::ReadWholeFile(tmp.path.string(), 100, bytes), FileReadFailure::CannotRead);
    const std::string fifo = (tmp.path / "pipe").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(jx::ReadWholeFile(fifo, 100, bytes), FileReadFailure::CannotRead);

    jx::test::WriteText(file, "");
    bytes = {9};
    EXPECT_EQ(jx::ReadWholeFile(file, 0, bytes), FileReadFailure::None);
    EXPECT_TRUE(bytes.empty());
}

TEST(ByteOrder, ReadsAndWritesBothOrders) {
    const uint8_t b[4] = {0x89, 0x50, 0x4E, 0xFF};
    EXPECT_EQ(jx::BigEndian32(b), 0x89504EFFu);
    EXPECT_EQ(jx::BigEndian16(b), 0x8950u);
    EXPECT_EQ(jx::LittleEndian32(b), 0xFF4E5089u);
    EXPECT_EQ(jx::LittleEndian16(b + 2), 0xFF4Eu);
    uint8_t out[4] = {};
    jx::PutLittleEndian32(out, 0xFF4E5089u);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 4), std::vector<uint8_t>(b, b + 4));
    jx::PutLittleEndian16(out, 0x1234);
    EXPECT_EQ(out[0], 0x34);
    EXPECT_EQ(out[1], 0x12);
}

TEST(AsciiLower, OnlyLettersAToZChange) {
    EXPECT_EQ(jx::AsciiLower("IMAGE.PNG"), "image.png");
    EXPECT_EQ(jx::AsciiLower("/O4 x=Z@[`"), "/o4 x=z@[`");
    // Bytes of UTF-8 names pass through untouched.
    EXPECT_EQ(jx::AsciiLower("\xC3\x84RGER.Png"), "\xC3\x84rger.png");
}

}  // namespace
