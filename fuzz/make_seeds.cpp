// Writes the seed corpora of the fuzzers: SEEDS_DIR/<fuzzer>/<seed>.
// Usage: rigweave-fuzz-seeds SEEDS_DIR MODELS_DIR
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz/model_input.h"

namespace fs = std::filesystem;

namespace {

bool Write(const fs::path& dir, const std::string& name, const std::string& bytes) {
  fs::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
  out << bytes;
  return static_cast<bool>(out.flush());
}

std::string RawTexture(int32_t width, int32_t height, int32_t depth, size_t pixelBytes) {
  std::string bytes;
  for (int32_t field : {width, height, depth})
    rwfuzz::AppendU32(bytes, static_cast<uint32_t>(field));
  for (size_t i = 0; i < pixelBytes; i++) bytes.push_back(static_cast<char>(i * 37 + 11));
  return bytes;
}

bool ConfigSeeds(const fs::path& dir, const std::string& pristineConfig) {
  // Every kind of line: entries of each key, unknown keys, comments, blank
  // lines, syntax errors, and the line ends a hand-edited file may have.
  const std::pair<const char*, std::string> seeds[] = {
      {"scale", "scale = 1.0\n"},
      {"skeleton", "skeleton = hero.csf\n"},
      {"animation", "animation = walk.caf\n"},
      {"animation_dots", "animation=wave.old.caf\r\n"},
      {"mesh", "\t mesh\t=\thero_body.cmf  \n"},
      {"material", "material = skin.crf\r\n"},
      {"other_key", "colour = red\n"},
      {"comment", "# a comment\n   #scale = 3\n"},
      {"blank", "\n \t\n\r\n"},
      {"syntax_error", "mesh hero.cmf\n"},
      {"empty_key", " = orphan\n"},
      {"empty_value", "mesh =   \r\n"},
      {"nul", std::string("mesh = a\0b\n\0scale = 2\n", 22)},
      {"no_final_lf", "skeleton = hero.csf"},
      {"hero", pristineConfig},
  };
  for (const auto& [name, bytes] : seeds)
    if (!Write(dir, name, bytes)) return false;
  return true;
}

bool RawTextureSeeds(const fs::path& dir) {
  const std::pair<const char*, std::string> seeds[] = {
      {"rgb_1x1", RawTexture(1, 1, 3, 3)},
      {"rgb_3x2", RawTexture(3, 2, 3, 18)},
      {"rgba_2x2", RawTexture(2, 2, 4, 16)},
      {"rgba_trailing", RawTexture(2, 1, 4, 11)},
      {"truncated", RawTexture(4, 4, 3, 20)},
      {"bad_depth", RawTexture(2, 2, 2, 8)},
      {"zero_width", RawTexture(0, 5, 3, 0)},
      {"huge", RawTexture(65536, 65536, 4, 4)},
      {"short_header", RawTexture(1, 1, 3, 0).substr(0, 7)},
  };
  for (const auto& [name, bytes] : seeds)
    if (!Write(dir, name, bytes)) return false;
  return true;
}

// Each file of the character untouched, and a light mutation of each, so
// that every file starts out reachable and the fuzzer learns the format.
bool LoadModelSeeds(const fs::path& dir, const std::vector<std::string>& files) {
  using rwfuzz::Mutation;
  for (size_t i = 0; i < files.size(); i++) {
    const std::string select(1, static_cast<char>(i));
    std::string keep = select;
    keep.push_back(static_cast<char>(Mutation::Keep));
    std::string truncate = select;
    truncate.push_back(static_cast<char>(Mutation::Truncate));
    rwfuzz::AppendU32(truncate, 64);
    std::string flip = select;
    flip.push_back(static_cast<char>(Mutation::FlipBits));
    rwfuzz::AppendU32(flip, 20);
    flip.push_back(3);
    std::string swap = select;
    swap.push_back(static_cast<char>(Mutation::SwapBytes));
    rwfuzz::AppendU32(swap, 16);
    rwfuzz::AppendU32(swap, 24);
    std::string overwrite = select;
    overwrite.push_back(static_cast<char>(Mutation::Overwrite));
    rwfuzz::AppendU32(overwrite, 12);
    rwfuzz::AppendU32(overwrite, 0x7fffffff);
    const std::string stem = std::to_string(i) + "_" + files[i];
    if (!Write(dir, stem + "_keep", keep) || !Write(dir, stem + "_truncate", truncate) ||
        !Write(dir, stem + "_flip", flip) || !Write(dir, stem + "_swap", swap) ||
        !Write(dir, stem + "_overwrite", overwrite))
      return false;
  }
  // A hand-written configuration in place of the generated one.
  std::string config(1, 0);
  config.push_back(static_cast<char>(Mutation::Replace));
  config +=
      "scale = 2\nskeleton = hero.csf\nanimation = walk.caf\nmesh = hero_gear.cmf\n"
      "material = belt.crf\nmaterial = hair.crf\n";
  return Write(dir, "0_config_replaced", config);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s SEEDS_DIR MODELS_DIR\n", argv[0]);
    return 2;
  }
  const fs::path seeds = argv[1];
  const std::string models = argv[2];
  const std::vector<std::string> files = rwfuzz::ModelFiles(models);
  std::string config;
  if (files.empty() || !rwfuzz::ReadWholeFile(models + "/" + rwfuzz::kModelName, config)) {
    std::fprintf(stderr, "no sample character in %s\n", models.c_str());
    return 1;
  }
  std::error_code ignored;
  fs::remove_all(seeds, ignored);
  if (!ConfigSeeds(seeds / "fuzz_config_line", config) ||
      !RawTextureSeeds(seeds / "fuzz_raw_texture") ||
      !LoadModelSeeds(seeds / "fuzz_load_model", files)) {
    std::fprintf(stderr, "cannot write the seeds in %s\n", argv[1]);
    return 1;
  }
  return 0;
}
