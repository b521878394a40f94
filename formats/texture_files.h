// The texture files one load reads. Materials may name one texture in many
// maps and in many spellings of its path ("skin.raw", "./skin.raw", ".//
// skin.raw", a link): each file is read and decoded once, known by the
// device and inode of the file opened, and what was made of it serves every
// map that leads there. The pixels a load decodes in all are bounded: every
// distinct texture may hold 4096 x 4096 pixels, 64 MiB that the engine then
// keeps, and a material may name thousands of textures.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "formats/raw_texture.h"
#include "formats/whole_file.h"

namespace rigweave {

// Four textures of the largest size (256 MiB decoded), or 64 of 1024 x
// 1024: more than the maps a character draws with.
constexpr int64_t kMaxLoadTexturePixels = 4 * kMaxRawTexturePixels;

class TextureFiles {
 public:
  struct Made {
    // What the caller made of the file; null when it could not be read.
    void* made = nullptr;
    // Why it was not read when the reason is the budget, else null.
    const char* why = nullptr;
  };

  // What was made for the file that `path` (the map `name`) leads to, when
  // a map led there before under this name or another; null when new.
  const Made* Find(const std::string& name, const std::string& path);

  // Reads the raw texture at `path` and decodes it into a new[] array of
  // header.width x header.height pixels that the caller owns, when it fits
  // the load's budget. Null pixels when it cannot be read, is no valid raw
  // texture or would pass the budget (then `why` says so).
  void Decode(const std::string& path, RawTextureHeader& header, csRGBpixel*& pixels,
              const char*& why);

  // Records what was made for the map `name`, under its name and the file
  // the last Decode opened (when it opened one).
  void Remember(const std::string& name, const Made& made);

  int64_t PixelsDecoded() const { return pixels_; }

 private:
  std::map<std::string, Made> byName_;
  std::map<FileIdentity, Made> byFile_;
  FileIdentity lastFile_;
  bool lastOpened_ = false;
  int64_t pixels_ = 0;
};

}  // namespace rigweave
