// rigweave-raw [--alpha] [--top-first] PICTURE OUT.raw
//
// Turns a TGA, PNG, JPEG or BMP picture (decoded by stb_image) into the
// module's raw texture format: little-endian int32 width, height and depth
// (3, or 4 with --alpha), then the pixel rows.
//
// The module turns the rows over as it reads them, and the renderer puts the
// module's first row at texture coordinate v = 0. By default the picture's
// top row is written last, so v = 0 is the top of the picture, as Cal3D's
// exporters count texture coordinates. --top-first writes the top row first,
// for models whose v grows upwards, as the sample character's does.

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/command_line.h"
#include "tools/model_files.h"
#include "tools/picture.h"

namespace {

constexpr const char kProgram[] = "rigweave-raw";

int Fail(const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", kProgram, text.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app("Turns a TGA, PNG, JPEG or BMP picture into the module's raw texture format.",
               kProgram);
  bool alpha = false, topFirst = false;
  std::string input, output;
  app.add_flag("--alpha", alpha, "keep the alpha channel (depth 4); otherwise depth 3");
  app.add_flag("--top-first", topFirst,
               "write the picture's top row first (texture v growing upwards)");
  app.add_option("PICTURE", input, "the picture to convert")->required();
  app.add_option("OUT", output, "the raw texture file to write")->required();
  if (const int status = rwtools::ParseCommandLine(app, argc, argv, kProgram); status >= 0)
    return status;
  if (output.empty()) return Fail("the output file name is empty");

  // Written in place, the input would be gone before the output is whole.
  std::error_code ignored;
  if (std::filesystem::equivalent(input, output, ignored))
    return Fail(output + ": is the input picture itself; name another output file");

  std::vector<uint8_t> bytes;
  std::string error;
  if (!rwtools::ReadRegularFile(input, rwtools::kMaxPictureFileBytes, bytes, error))
    return Fail(input + ": cannot be read (" + error + ")");
  rwtools::DecodedPicture picture;
  if (!rwtools::DecodePicture(bytes.data(), bytes.size(), alpha ? 4 : 3, picture, error))
    return Fail(input + ": " + error);
  bytes.clear();
  bytes.shrink_to_fit();
  if (!rwtools::WriteFileWhole(output, rwtools::RawTextureFile(picture, topFirst), error))
    return Fail(output + ": " + error);
  std::printf("%s: %dx%d, depth %d, top row %s\n", output.c_str(), picture.width, picture.height,
              picture.depth, topFirst ? "first" : "last");
  return 0;
}
