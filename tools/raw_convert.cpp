// rigweave-raw [--alpha] [--top-first] PICTURE OUT.raw
//
// Turns a PNG or TGA picture (uncompressed or run-length encoded, decoded by
// stb_image) into the module's raw texture format: little-endian int32
// width, height and depth (3, or 4 with --alpha), then the pixel rows.
//
// The module turns the rows over as it reads them, and the renderer puts the
// module's first row at texture coordinate v = 0. By default the picture's
// top row is written last, so v = 0 is the top of the picture, as Cal3D's
// exporters count texture coordinates. --top-first writes the top row first,
// for models whose v grows upwards, as the sample character's does.
#include <stb_image.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "model/rawtexture.h"
#include "tools/raw_texture.h"

namespace {

constexpr const char kUsage[] =
    "usage: rigweave-raw [--alpha] [--top-first] PICTURE.png|PICTURE.tga OUT.raw\n"
    "  --alpha      keep the alpha channel (depth 4); otherwise depth 3\n"
    "  --top-first  write the picture's top row first (texture v growing upwards)\n";

struct StbFree {
  void operator()(unsigned char* pixels) const { stbi_image_free(pixels); }
};

}  // namespace

int main(int argc, char** argv) {
  bool alpha = false, topFirst = false;
  std::vector<std::string> paths;
  for (int i = 1; i < argc; i++) {
    if (std::strcmp(argv[i], "--alpha") == 0) {
      alpha = true;
    } else if (std::strcmp(argv[i], "--top-first") == 0) {
      topFirst = true;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (argv[i][0] == '-' && argv[i][1] != '\0') {
      std::fprintf(stderr, "rigweave-raw: unknown option %s\n%s", argv[i], kUsage);
      return 2;
    } else {
      paths.push_back(argv[i]);
    }
  }
  if (paths.size() != 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }

  const int depth = alpha ? 4 : 3;
  int width = 0, height = 0, channels = 0;
  // stb_image hands rows back top row first whatever order the file keeps them in.
  std::unique_ptr<unsigned char, StbFree> pixels(
      stbi_load(paths[0].c_str(), &width, &height, &channels, depth));
  if (!pixels) {
    std::fprintf(stderr, "rigweave-raw: %s: cannot be read as a picture (%s)\n", paths[0].c_str(),
                 stbi_failure_reason());
    return 1;
  }
  if (static_cast<int64_t>(width) * height > rigweave::kMaxRawTexturePixels) {
    std::fprintf(stderr, "rigweave-raw: %s: %dx%d is more than the module loads (%lld pixels)\n",
                 paths[0].c_str(), width, height,
                 static_cast<long long>(rigweave::kMaxRawTexturePixels));
    return 1;
  }

  const size_t row = static_cast<size_t>(width) * depth;
  std::vector<uint8_t> rows(row * static_cast<size_t>(height));
  for (int y = 0; y < height; y++) {
    const int target = topFirst ? y : height - 1 - y;
    std::memcpy(rows.data() + row * static_cast<size_t>(target),
                pixels.get() + row * static_cast<size_t>(y), row);
  }
  if (!WriteRawTexture(paths[1], width, height, depth, rows.data())) {
    std::fprintf(stderr, "rigweave-raw: %s: cannot be written\n", paths[1].c_str());
    return 1;
  }
  std::printf("%s: %dx%d, depth %d, top row %s\n", paths[1].c_str(), width, height, depth,
              topFirst ? "first" : "last");
  return 0;
}
