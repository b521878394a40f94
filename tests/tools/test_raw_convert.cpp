// rigweave-raw: its files, read back by the module's own texture decoder,
// must show the picture it was given, in the row order asked for.
#include <gtest/gtest.h>
#include <stb_image_write.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "formats/raw_texture.h"
#include "support/files.h"
#include "support/programs.h"

namespace {

// A picture with no symmetry: every pixel's colour tells where it is.
rwview::Picture Asymmetric(int width, int height) {
  rwview::Picture p;
  p.width = width;
  p.height = height;
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++)
      p.rgb.insert(p.rgb.end(), {static_cast<uint8_t>(10 + 20 * x),
                                 static_cast<uint8_t>(7 + 30 * y), static_cast<uint8_t>(x * y)});
  return p;
}

using rwtest::ReadBytes;

// What the module makes of a raw file.
struct Decoded {
  rigweave::RawTextureHeader header;
  std::unique_ptr<csRGBpixel[]> pixels;
  const csRGBpixel& At(int x, int y) const { return pixels[y * header.width + x]; }
};

Decoded Decode(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadBytes(path);
  Decoded decoded;
  csRGBpixel* pixels = nullptr;
  EXPECT_EQ(rigweave::DecodeRawTexture(bytes.data(), bytes.size(), decoded.header, pixels),
            rigweave::RawTextureError::None);
  decoded.pixels.reset(pixels);
  return decoded;
}

rwtest::RunResult Convert(const std::string& arguments) {
  return rwtest::Run(std::string(RIGWEAVE_RAW) + " " + arguments);
}

// Module image row `row` must hold picture row `pictureRow` of (r, g, b) rows.
void ExpectRow(const Decoded& d, int row, const std::vector<uint8_t>& rgba, int width,
               int pictureRow, int channels) {
  for (int x = 0; x < width; x++) {
    const uint8_t* want = &rgba[(static_cast<size_t>(pictureRow) * width + x) * channels];
    const csRGBpixel& got = d.At(x, row);
    EXPECT_EQ(got.red, want[0]) << "x " << x << " row " << row;
    EXPECT_EQ(got.green, want[1]) << "x " << x << " row " << row;
    EXPECT_EQ(got.blue, want[2]) << "x " << x << " row " << row;
    EXPECT_EQ(got.alpha, channels == 4 ? want[3] : 255) << "x " << x << " row " << row;
  }
}

class RawConvert : public ::testing::Test {
 protected:
  rwtest::TempDir dir;
};

TEST_F(RawConvert, PngRowsReachTheModuleInTheOrderAskedFor) {
  const rwview::Picture picture = Asymmetric(5, 3);
  ASSERT_TRUE(rwview::WritePng(dir / "in.png", picture));

  ASSERT_EQ(Convert(dir / "in.png " + dir / "top-last.raw").status, 0);
  const Decoded topLast = Decode(dir / "top-last.raw");
  ASSERT_EQ(topLast.header.width, 5);
  ASSERT_EQ(topLast.header.height, 3);
  EXPECT_EQ(topLast.header.depth, 3);
  // By default the module's row 0 is the picture's top row: v = 0 at the top.
  for (int row = 0; row < 3; row++) ExpectRow(topLast, row, picture.rgb, 5, row, 3);

  ASSERT_EQ(Convert("--top-first " + dir / "in.png " + dir / "top-first.raw").status, 0);
  const Decoded topFirst = Decode(dir / "top-first.raw");
  for (int row = 0; row < 3; row++) ExpectRow(topFirst, row, picture.rgb, 5, 2 - row, 3);
}

// A TGA file: 18-byte header, then BGR(A) pixels, bottom row first unless
// bit 5 of the descriptor says top first.
std::vector<uint8_t> Tga(int width, int height, int channels, bool rle, bool topFirst,
                         const std::vector<uint8_t>& rgba) {
  std::vector<uint8_t> out = {
      0,
      0,
      static_cast<uint8_t>(rle ? 10 : 2),
      0,
      0,
      0,
      0,
      0,
      0,
      0,
      0,
      0,
      static_cast<uint8_t>(width),
      static_cast<uint8_t>(width >> 8),
      static_cast<uint8_t>(height),
      static_cast<uint8_t>(height >> 8),
      static_cast<uint8_t>(8 * channels),
      static_cast<uint8_t>((topFirst ? 0x20 : 0) | (channels == 4 ? 8 : 0))};
  for (int i = 0; i < height; i++) {
    const int y = topFirst ? i : height - 1 - i;
    const uint8_t* row = &rgba[static_cast<size_t>(y) * width * channels];
    if (rle) {
      // One run of the first pixel, then the rest raw: both packet kinds.
      out.push_back(0x80 | 1);
      const uint8_t* p = row;
      out.insert(out.end(), {p[2], p[1], p[0]});
      if (channels == 4) out.push_back(p[3]);
      if (width > 2) {
        out.push_back(static_cast<uint8_t>(width - 3));
        for (int x = 2; x < width; x++) {
          p = row + x * channels;
          out.insert(out.end(), {p[2], p[1], p[0]});
          if (channels == 4) out.push_back(p[3]);
        }
      }
    } else {
      for (int x = 0; x < width; x++) {
        const uint8_t* p = row + x * channels;
        out.insert(out.end(), {p[2], p[1], p[0]});
        if (channels == 4) out.push_back(p[3]);
      }
    }
  }
  return out;
}

TEST_F(RawConvert, TgaFilesOfEveryKindGiveThePicture) {
  // Rows of 4 pixels whose first two are alike, so a run packet fits.
  const int width = 4, height = 3;
  std::vector<uint8_t> rgba;
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++)
      rgba.insert(
          rgba.end(),
          {static_cast<uint8_t>(40 * y + 1), static_cast<uint8_t>(x < 2 ? 9 : 50 * x),
           static_cast<uint8_t>(200 - 30 * y), static_cast<uint8_t>(x < 2 ? 7 : 60 * x + y)});
  std::vector<uint8_t> rgb;
  for (size_t i = 0; i < rgba.size(); i += 4) rgb.insert(rgb.end(), &rgba[i], &rgba[i] + 3);

  struct Case {
    const char* name;
    int channels;
    bool rle, topFirst;
  };
  for (const Case& c : {Case{"plain", 3, false, false}, Case{"top first", 3, false, true},
                        Case{"run-length", 3, true, false}, Case{"alpha", 4, false, false},
                        Case{"run-length alpha", 4, true, true}}) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> tga =
        Tga(width, height, c.channels, c.rle, c.topFirst, c.channels == 4 ? rgba : rgb);
    std::ofstream(dir / "in.tga", std::ios::binary)
        .write(reinterpret_cast<const char*>(tga.data()), static_cast<std::streamsize>(tga.size()));
    const std::string alpha = c.channels == 4 ? "--alpha " : "";
    const rwtest::RunResult run = Convert(alpha + dir / "in.tga " + dir / "out.raw");
    ASSERT_EQ(run.status, 0) << run.err;
    const Decoded d = Decode(dir / "out.raw");
    ASSERT_EQ(d.header.width, width);
    ASSERT_EQ(d.header.height, height);
    EXPECT_EQ(d.header.depth, c.channels);
    for (int row = 0; row < height; row++)
      ExpectRow(d, row, c.channels == 4 ? rgba : rgb, width, row, c.channels);
  }
}

TEST_F(RawConvert, BmpRowsKeptTopFirstGiveThePicture) {
  // 2 x 2, 24 bits, height -2: the rows top first, each padded to 8 bytes.
  std::vector<uint8_t> bmp = {'B', 'M', 70, 0, 0, 0, 0, 0,    0,    0,    54,   0, 0, 0,  40,
                              0,   0,   0,  2, 0, 0, 0, 0xfe, 0xff, 0xff, 0xff, 1, 0, 24, 0};
  bmp.resize(54, 0);
  // BGR: red, green / blue, white.
  bmp.insert(bmp.end(), {0, 0, 255, 0, 255, 0, 0, 0, 255, 0, 0, 255, 255, 255, 0, 0});
  std::ofstream(dir / "top.bmp", std::ios::binary)
      .write(reinterpret_cast<const char*>(bmp.data()), static_cast<std::streamsize>(bmp.size()));
  const rwtest::RunResult run = Convert(dir / "top.bmp " + dir / "out.raw");
  ASSERT_EQ(run.status, 0) << run.err;
  const Decoded d = Decode(dir / "out.raw");
  ASSERT_EQ(d.header.height, 2);
  // Module row 0 is the picture's top row.
  ExpectRow(d, 0, {255, 0, 0, 0, 255, 0}, 2, 0, 3);
  ExpectRow(d, 1, {0, 0, 255, 255, 255, 255}, 2, 0, 3);
}

TEST_F(RawConvert, SampleTexturesSurviveTheRoundTripWithTopFirst) {
  // The sample character's textures count v upwards and are written top row
  // first; a picture of one, converted with --top-first, must give back the
  // very same file.
  for (const char* name : {"skin", "shirt", "trousers"}) {
    SCOPED_TRACE(name);
    const std::string original = std::string(RIGWEAVE_BUILD_DIR) + "/models/" + name + ".raw";
    const std::vector<uint8_t> bytes = ReadBytes(original);
    ASSERT_GT(bytes.size(), rigweave::kRawHeaderSize);
    const Decoded d = Decode(original);
    ASSERT_EQ(d.header.depth, 3);
    rwview::Picture picture;
    picture.width = d.header.width;
    picture.height = d.header.height;
    picture.rgb.assign(bytes.begin() + rigweave::kRawHeaderSize, bytes.end());
    ASSERT_TRUE(rwview::WritePng(dir / "picture.png", picture));
    ASSERT_EQ(Convert("--top-first " + dir / "picture.png " + dir / "again.raw").status, 0);
    EXPECT_EQ(ReadBytes(dir / "again.raw"), bytes);
  }
}

TEST_F(RawConvert, RefusesWhatItCannotRead) {
  std::ofstream(dir / "junk.png") << "not a picture at all";
  struct Case {
    std::string arguments;
    int status;
  };
  for (const Case& c : {Case{dir / "junk.png " + dir / "out.raw", 1},
                        Case{dir / "missing.png " + dir / "out.raw", 1}, Case{"", 2},
                        Case{dir / "junk.png", 2}, Case{"--bogus a b", 2}}) {
    SCOPED_TRACE(c.arguments);
    const rwtest::RunResult run = Convert(c.arguments);
    EXPECT_EQ(run.status, c.status);
    EXPECT_FALSE(run.err.empty());
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "out.raw"));
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// An 18-byte TGA header: image type 2 (plain) or 10 (run-length), 24 bits.
std::vector<uint8_t> TgaHeader(int type, int width, int height) {
  return {0,
          0,
          static_cast<uint8_t>(type),
          0,
          0,
          0,
          0,
          0,
          0,
          0,
          0,
          0,
          static_cast<uint8_t>(width),
          static_cast<uint8_t>(width >> 8),
          static_cast<uint8_t>(height),
          static_cast<uint8_t>(height >> 8),
          24,
          0};
}

// A PNG of `width` x `height` RGB pixels whose compressed data inflates to
// `inflated` bytes, far more than the header allows.
std::vector<uint8_t> InflatingPng(uint32_t width, uint32_t height, size_t inflated) {
  auto big = [](std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
      out.push_back(static_cast<uint8_t>(value >> shift));
  };
  auto chunk = [&](std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& body) {
    big(out, static_cast<uint32_t>(body.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), body.begin(), body.end());
    big(out,
        static_cast<uint32_t>(crc32(0, out.data() + start, static_cast<uInt>(out.size() - start))));
  };
  std::vector<uint8_t> header;
  big(header, width);
  big(header, height);
  header.insert(header.end(), {8, 2, 0, 0, 0});
  std::vector<uint8_t> compressed(inflated / 500 + 4096);
  z_stream stream{};
  deflateInit(&stream, 9);
  std::vector<uint8_t> zeros(1 << 20, 0);
  stream.next_out = compressed.data();
  stream.avail_out = static_cast<uInt>(compressed.size());
  for (size_t done = 0; done < inflated; done += zeros.size()) {
    stream.next_in = zeros.data();
    stream.avail_in = static_cast<uInt>(zeros.size());
    deflate(&stream, done + zeros.size() >= inflated ? Z_FINISH : Z_NO_FLUSH);
  }
  compressed.resize(compressed.size() - stream.avail_out);
  deflateEnd(&stream);
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  chunk(png, "IHDR", header);
  chunk(png, "IDAT", compressed);
  chunk(png, "IEND", {});
  return png;
}

TEST_F(RawConvert, RefusesDamagedPicturesWithAReasonAndWritesNothing) {
  // Run-length packets of 128 pixels, 4 bytes each, claiming 26000 x 26000
  // pixels: decoding it first would take gigabytes.
  std::vector<uint8_t> bomb = TgaHeader(10, 26000, 26000);
  for (int i = 0; i < 200000; i++) bomb.insert(bomb.end(), {0xff, 1, 2, 3});
  WriteBytes(dir / "bomb.tga", bomb);
  std::vector<uint8_t> shortPlain = TgaHeader(2, 4, 4);
  shortPlain.resize(shortPlain.size() + 4 * 4 * 3 - 1, 9);
  WriteBytes(dir / "short.tga", shortPlain);
  std::vector<uint8_t> fewPackets = TgaHeader(10, 4, 4);
  fewPackets.insert(fewPackets.end(), {0x83, 1, 2, 3, 0x81, 4, 5, 6});
  WriteBytes(dir / "packets.tga", fewPackets);
  // A PNG whose end chunk is missing: stb_image gives no reason of its own.
  rwview::Picture small = Asymmetric(4, 4);
  ASSERT_TRUE(rwview::WritePng(dir / "whole.png", small));
  std::vector<uint8_t> png = ReadBytes(dir / "whole.png");
  png.resize(png.size() - 12);
  WriteBytes(dir / "noend.png", png);

  png.resize(png.size() - 8);
  WriteBytes(dir / "cutdata.png", png);
  // 16 x 16 pixels whose compressed data inflates to 64 MiB.
  WriteBytes(dir / "inflating.png", InflatingPng(16, 16, 64 << 20));
  // Cut inside their pixel data: stb_image reads zeros or leaves the rest of
  // its buffer unwritten, and calls that a picture.
  const std::vector<uint8_t> noise = Asymmetric(16, 16).rgb;
  ASSERT_TRUE(stbi_write_jpg((dir / "whole.jpg").c_str(), 16, 16, 3, noise.data(), 90));
  std::vector<uint8_t> jpeg = ReadBytes(dir / "whole.jpg");
  jpeg.resize(jpeg.size() * 3 / 4);
  WriteBytes(dir / "cut.jpg", jpeg);
  ASSERT_TRUE(stbi_write_bmp((dir / "whole.bmp").c_str(), 16, 16, 3, noise.data()));
  std::vector<uint8_t> bmp = ReadBytes(dir / "whole.bmp");
  bmp.resize(bmp.size() - 40);
  WriteBytes(dir / "cut.bmp", bmp);
  const std::string ppm = "P6\n16 16\n255\n" + std::string(noise.begin(), noise.end());
  WriteBytes(dir / "cut.ppm", std::vector<uint8_t>(ppm.begin(), ppm.begin() + 10));
  // Headers of 60000 x 60000 pixels (the BMP's stored top row first).
  std::vector<uint8_t> huge = ReadBytes(dir / "whole.png");
  for (size_t at : {16, 20}) huge[at + 2] = 0xEA, huge[at + 3] = 0x60;
  WriteBytes(dir / "huge.png", huge);
  huge = ReadBytes(dir / "whole.bmp");
  for (int32_t value : {60000, -60000}) {
    const size_t at = value > 0 ? 18 : 22;
    for (int k = 0; k < 4; k++)
      huge[at + k] = static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * k));
  }
  WriteBytes(dir / "huge.bmp", huge);

  struct Case {
    std::string file, says;
  };
  for (const Case& c :
       {Case{"bomb.tga", "more than the module loads"}, Case{"short.tga", "cut short"},
        Case{"packets.tga", "run-length"}, Case{"noend.png", "cut short"},
        Case{"cutdata.png", "cut short"}, Case{"inflating.png", "more than its 16x16 header"},
        Case{"cut.jpg", "a JPEG file cut short"}, Case{"cut.bmp", "a BMP file cut short"},
        Case{"cut.ppm", "a PNM picture, not TGA, PNG, JPEG or BMP"},
        Case{"huge.png", "60000x60000 is more than the module loads"},
        Case{"huge.bmp", "60000x60000 is more than the module loads"}}) {
    SCOPED_TRACE(c.file);
    // A gigabyte of address space is far more than any picture the module
    // loads needs, and far less than decoding the bomb would take.
    const rwtest::RunResult run = rwtest::Run("ulimit -v 1000000; " + std::string(RIGWEAVE_RAW) +
                                              " " + dir / c.file + " " + dir / "out.raw");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("()"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out.raw"));
  }
}

TEST_F(RawConvert, FollowsNoLinkPlantedWhereItWritesAside) {
  ASSERT_TRUE(rwview::WritePng(dir / "in.png", Asymmetric(3, 3)));
  WriteBytes(dir / "target", {'k', 'e', 'e', 'p'});
  // Links at every name a temporary file of this process could take: the
  // shell's process id is the program's after exec.
  std::string plant;
  for (const char* suffix : {"", "-0", "-1", "-2"})
    plant += "ln -s " + dir / "target " + dir / "out.raw.part$$" + suffix + "; ";
  const rwtest::RunResult run = rwtest::Run("sh -c '" + plant + "exec " + RIGWEAVE_RAW + " " +
                                            dir / "in.png " + dir / "out.raw'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(rwtest::ReadFile(dir / "target"), "keep");
  EXPECT_EQ(Decode(dir / "out.raw").header.width, 3);
}

TEST_F(RawConvert, NeverWritesOverItsInputOrToNoName) {
  ASSERT_TRUE(rwview::WritePng(dir / "in.png", Asymmetric(3, 3)));
  const std::vector<uint8_t> before = ReadBytes(dir / "in.png");
  for (const std::string& out : {dir / "in.png", dir.Path() + "/./in.png", std::string("''")}) {
    SCOPED_TRACE(out);
    const rwtest::RunResult run = Convert(dir / "in.png " + out);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(ReadBytes(dir / "in.png"), before);
  }
}

}  // namespace
