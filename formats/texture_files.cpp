#include "formats/texture_files.h"

#include <vector>

namespace rigweave {

const TextureFiles::Made* TextureFiles::Find(const std::string& name, const std::string& path) {
  const auto named = byName_.find(name);
  if (named != byName_.end()) return &named->second;
  FileIdentity file;
  if (!IdentifyFile(path, file)) return nullptr;
  const auto known = byFile_.find(file);
  if (known == byFile_.end()) return nullptr;
  return &byName_.emplace(name, known->second).first->second;
}

void TextureFiles::Decode(const std::string& path, RawTextureHeader& header, csRGBpixel*& pixels,
                          const char*& why) {
  pixels = nullptr;
  why = nullptr;
  std::vector<uint8_t> bytes;
  lastFile_ = FileIdentity();
  const FileError error = ReadWholeFile(path, kMaxRawTextureFileBytes, bytes, lastFile_);
  // Set only when the name led to a file that could be opened.
  lastOpened_ = lastFile_.device != 0 || lastFile_.inode != 0;
  if (error != FileError::None) return;
  if (ParseRawTextureHeader(bytes.data(), bytes.size(), header) != RawTextureError::None) return;
  const int64_t count = static_cast<int64_t>(header.width) * header.height;
  if (count > kMaxLoadTexturePixels - pixels_) {
    why = "decoded textures of the model above 67108864 pixels in all";
    return;
  }
  if (DecodeRawTexture(bytes.data(), bytes.size(), header, pixels) == RawTextureError::None)
    pixels_ += count;
}

void TextureFiles::Remember(const std::string& name, const Made& made) {
  byName_[name] = made;
  if (lastOpened_) byFile_.emplace(lastFile_, made);
  lastOpened_ = false;
}

}  // namespace rigweave
