#include "engine/engine.h"

#include <cstring>
#include <new>

namespace rwengine {

Engine::Engine() : textures_(csRef<TextureList>::Adopt(new TextureList)) {}

iMaterialWrapper* Engine::FindMaterial(const char* name, iRegion*) {
  if (name == nullptr) return nullptr;
  for (auto it = materials_.rbegin(); it != materials_.rend(); ++it)
    if (std::strcmp((*it)->GetName(), name) == 0) return it->get();
  return nullptr;
}

iMaterialWrapper* Engine::CreateMaterial(const char* name, iTextureWrapper* texture) {
  csRef<MaterialHandle> handle;
  iTextureHandle* textureHandle = texture != nullptr ? texture->GetTextureHandle() : nullptr;
  if (textureHandle != nullptr) {
    handle = csRef<MaterialHandle>::Adopt(new (std::nothrow) MaterialHandle(textureHandle));
    if (!handle) return nullptr;
  }
  auto material =
      csRef<MaterialWrapper>::Adopt(new (std::nothrow) MaterialWrapper(name, handle.get()));
  if (!material) return nullptr;
  materials_.push_back(material);
  return material.get();
}

MaterialWrapper* Engine::GetMaterial(int index) const {
  if (index < 0 || index >= GetMaterialCount()) return nullptr;
  return materials_[static_cast<size_t>(index)].get();
}

}  // namespace rwengine
