// Decoding the module's raw texture format.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "formats/raw_texture.h"
#include "support/model_folder.h"
#include "support/rows.h"

namespace {

using rigweave::DecodeRawTexture;
using rigweave::RawTextureError;
using rigweave::RawTextureHeader;

std::vector<uint8_t> RawFile(int32_t width, int32_t height, int32_t depth,
                             const std::vector<uint8_t>& data) {
  const std::string bytes = rwtest::RawTextureBytes(width, height, depth, data);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

struct Decoded {
  RawTextureError error;
  RawTextureHeader header;
  std::unique_ptr<csRGBpixel[]> pixels;
};

Decoded Decode(const std::vector<uint8_t>& bytes) {
  Decoded d;
  csRGBpixel* pixels = nullptr;
  d.error = DecodeRawTexture(bytes.data(), bytes.size(), d.header, pixels);
  d.pixels.reset(pixels);
  return d;
}

void ExpectPixel(const csRGBpixel& p, int r, int g, int b, int a) {
  EXPECT_EQ(p.red, r);
  EXPECT_EQ(p.green, g);
  EXPECT_EQ(p.blue, b);
  EXPECT_EQ(p.alpha, a);
}

TEST(RawTexture, RowsAreReversedAndAlphaIsOpaqueForDepthThree) {
  Decoded d = Decode(RawFile(1, 2, 3, {10, 20, 30, 40, 50, 60}));
  ASSERT_EQ(d.error, RawTextureError::None);
  EXPECT_EQ(d.header.width, 1);
  EXPECT_EQ(d.header.height, 2);
  ExpectPixel(d.pixels[0], 40, 50, 60, 255);
  ExpectPixel(d.pixels[1], 10, 20, 30, 255);

  // Two pixels a row, three rows: rows swap, pixels within a row keep their order.
  std::vector<uint8_t> data;
  for (int i = 0; i < 6; i++) data.insert(data.end(), {uint8_t(i), uint8_t(10 + i), 0});
  d = Decode(RawFile(2, 3, 3, data));
  ASSERT_EQ(d.error, RawTextureError::None);
  const int expectedRed[] = {4, 5, 2, 3, 0, 1};
  for (int i = 0; i < 6; i++) ExpectPixel(d.pixels[i], expectedRed[i], 10 + expectedRed[i], 0, 255);
}

TEST(RawTexture, DepthFourCarriesAlpha) {
  Decoded d = Decode(RawFile(2, 1, 4, {1, 2, 3, 4, 5, 6, 7, 8}));
  ASSERT_EQ(d.error, RawTextureError::None);
  ExpectPixel(d.pixels[0], 1, 2, 3, 4);
  ExpectPixel(d.pixels[1], 5, 6, 7, 8);
  // Bytes past the announced pixels are ignored.
  d = Decode(RawFile(1, 1, 4, {9, 9, 9, 9, 1, 2, 3}));
  EXPECT_EQ(d.error, RawTextureError::None);
}

struct BadFile {
  const char* name;
  std::vector<uint8_t> bytes;
  RawTextureError error;
  friend void PrintTo(const BadFile& row, std::ostream* out) { *out << row.name; }
};

class BadFiles : public testing::TestWithParam<BadFile> {};

TEST_P(BadFiles, AreRefusedWithoutAnImage) {
  const Decoded d = Decode(GetParam().bytes);
  EXPECT_EQ(d.error, GetParam().error);
  EXPECT_EQ(d.pixels, nullptr);
  EXPECT_STRNE(rigweave::RawTextureErrorText(d.error), "no error");
}

INSTANTIATE_TEST_SUITE_P(
    RawTexture, BadFiles,
    testing::Values(
        BadFile{"empty", {}, RawTextureError::ShortHeader},
        BadFile{
            "header cut short", {1, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0}, RawTextureError::ShortHeader},
        BadFile{"no columns", RawFile(0, 4, 3, {}), RawTextureError::BadSize},
        BadFile{"no rows", RawFile(4, 0, 3, {}), RawTextureError::BadSize},
        BadFile{"negative width", RawFile(-1, 4, 3, {}), RawTextureError::BadSize},
        BadFile{"negative height", RawFile(4, -2, 3, {}), RawTextureError::BadSize},
        // Sizes whose product would overflow 32 bits, or ask for gigabytes.
        BadFile{"product beyond 32 bits", RawFile(0x7FFFFFFF, 0x7FFFFFFF, 3, {}),
                RawTextureError::BadSize},
        BadFile{"gigabytes", RawFile(65536, 65536, 3, {}), RawTextureError::BadSize},
        BadFile{"one column too many", RawFile(4097, 4096, 3, {}), RawTextureError::BadSize},
        // The bound is on pixels in all: any shape within it is read.
        BadFile{"wide beyond the pixels", RawFile(16385, 1024, 3, {}), RawTextureError::BadSize},
        BadFile{"wide within the pixels", RawFile(16384, 1024, 3, {}), RawTextureError::Truncated},
        BadFile{"tall within the pixels", RawFile(1, 16777216, 3, {}), RawTextureError::Truncated},
        BadFile{"depth 0", RawFile(1, 1, 0, {0}), RawTextureError::BadDepth},
        BadFile{"depth 1", RawFile(1, 1, 1, {0, 0, 0}), RawTextureError::BadDepth},
        BadFile{"depth 2", RawFile(1, 1, 2, {0, 0, 0}), RawTextureError::BadDepth},
        BadFile{"depth 5", RawFile(1, 1, 5, {0, 0, 0, 0, 0}), RawTextureError::BadDepth},
        BadFile{"negative depth", RawFile(1, 1, -3, {0, 0, 0}), RawTextureError::BadDepth},
        BadFile{"one byte short", RawFile(2, 2, 3, std::vector<uint8_t>(11)),
                RawTextureError::Truncated},
        BadFile{"largest with three bytes", RawFile(4096, 4096, 4, {1, 2, 3}),
                RawTextureError::Truncated}),
    rwtest::RowName());

TEST(RawTexture, EncodedFilesDecodeToTheRowsTheyWereGivenInEitherOrder) {
  // Two rows of two RGB pixels; the decoder shows the file's last row first.
  const std::vector<uint8_t> rows = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  const RawTextureHeader header{2, 2, 3};
  const std::vector<uint8_t> asGiven = rigweave::EncodeRawTexture(header, rows.data(), false);
  EXPECT_EQ(asGiven, RawFile(2, 2, 3, rows));
  Decoded d = Decode(asGiven);
  ASSERT_EQ(d.error, RawTextureError::None);
  ExpectPixel(d.pixels[0], 7, 8, 9, 255);
  ExpectPixel(d.pixels[3], 4, 5, 6, 255);

  d = Decode(rigweave::EncodeRawTexture(header, rows.data(), true));
  ASSERT_EQ(d.error, RawTextureError::None);
  ExpectPixel(d.pixels[0], 1, 2, 3, 255);
  ExpectPixel(d.pixels[3], 10, 11, 12, 255);

  // What the decoder would refuse is not written.
  for (const RawTextureHeader& bad : {RawTextureHeader{0, 2, 3}, RawTextureHeader{2, -1, 3},
                                      RawTextureHeader{2, 2, 2}, RawTextureHeader{4097, 4096, 3}})
    EXPECT_TRUE(rigweave::EncodeRawTexture(bad, rows.data(), false).empty());
}

}  // namespace
