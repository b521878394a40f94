#include "engine/materials.h"

#include <cstring>
#include <new>

namespace rwengine {

TextureWrapper::TextureWrapper(const char* name, iImage* image)
    : name_(name != nullptr ? name : ""),
      image_(image),
      handle_(csRef<TextureHandle>::Adopt(new (std::nothrow) TextureHandle(image))) {}

MaterialWrapper::MaterialWrapper(const char* name, iMaterialHandle* handle)
    : name_(name != nullptr ? name : ""), handle_(handle) {}

iTextureWrapper* TextureList::Get(int index) {
  if (index < 0 || index >= GetCount()) return nullptr;
  return textures_[static_cast<size_t>(index)].get();
}

iTextureWrapper* TextureList::FindByName(const char* name) {
  if (name == nullptr) return nullptr;
  for (auto it = textures_.rbegin(); it != textures_.rend(); ++it)
    if (std::strcmp((*it)->GetName(), name) == 0) return it->get();
  return nullptr;
}

iTextureWrapper* TextureList::AddTexture(const char* name, iImage* image) {
  if (image == nullptr) return nullptr;
  auto texture = csRef<TextureWrapper>::Adopt(new (std::nothrow) TextureWrapper(name, image));
  if (!texture || texture->GetTextureHandle() == nullptr) return nullptr;
  textures_.push_back(texture);
  return texture.get();
}

}  // namespace rwengine
