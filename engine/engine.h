// The engine as a mesh object sees it while loading: its texture list and
// its list of materials.
#pragma once

#include <vector>

#include "engine/live_objects.h"
#include "engine/materials.h"
#include "host/engine_loading.h"
#include "host/ref.h"
#include "host/scf_impl.h"

namespace rwengine {

class Engine : public scfImplementation<Engine, iEngine>, private LiveCounted<Engine> {
 public:
  static constexpr const char kLiveName[] = "Engine";

  Engine();

  // The material of that name made last, without a reference; regions are
  // not kept apart.
  iMaterialWrapper* FindMaterial(const char* name, iRegion* region = nullptr) override;
  // Without a reference.
  iTextureList* GetTextureList() override { return textures_.get(); }
  // Kept by the engine, no reference for the caller; a null texture (or one
  // without a handle) gives a material with a null handle.
  iMaterialWrapper* CreateMaterial(const char* name, iTextureWrapper* texture) override;

  TextureList* GetTextures() const { return textures_.get(); }
  int GetMaterialCount() const { return static_cast<int>(materials_.size()); }
  // Null outside 0..GetMaterialCount()-1.
  MaterialWrapper* GetMaterial(int index) const;

 private:
  csRef<TextureList> textures_;
  std::vector<csRef<MaterialWrapper>> materials_;
};

}  // namespace rwengine
