// Textures and materials as the engine keeps them: the renderer's handles,
// the engine's named wrappers around them, and the texture list.
#pragma once

#include <string>
#include <vector>

#include "engine/live_objects.h"
#include "host/engine_loading.h"
#include "host/graphics.h"
#include "host/ref.h"
#include "host/scf_impl.h"

namespace rwengine {

class TextureHandle : public scfImplementation<TextureHandle, iTextureHandle>,
                      private LiveCounted<TextureHandle> {
 public:
  static constexpr const char kLiveName[] = "TextureHandle";

  // Holds a reference on the image.
  explicit TextureHandle(iImage* image) : image_(image) {}
  iImage* GetImage() override { return image_.get(); }

 private:
  csRef<iImage> image_;
};

class MaterialHandle : public scfImplementation<MaterialHandle, iMaterialHandle>,
                       private LiveCounted<MaterialHandle> {
 public:
  static constexpr const char kLiveName[] = "MaterialHandle";

  // Holds a reference on the texture.
  explicit MaterialHandle(iTextureHandle* texture) : texture_(texture) {}
  iTextureHandle* GetTexture() override { return texture_.get(); }

 private:
  csRef<iTextureHandle> texture_;
};

class TextureWrapper : public scfImplementation<TextureWrapper, iTextureWrapper>,
                       private LiveCounted<TextureWrapper> {
 public:
  static constexpr const char kLiveName[] = "TextureWrapper";

  // Holds a reference on the image and makes the renderer's handle for it.
  TextureWrapper(const char* name, iImage* image);

  const char* GetName() override { return name_.c_str(); }
  iImage* GetImage() override { return image_.get(); }
  iTextureHandle* GetTextureHandle() override { return handle_.get(); }

 private:
  std::string name_;
  csRef<iImage> image_;
  csRef<TextureHandle> handle_;
};

class MaterialWrapper : public scfImplementation<MaterialWrapper, iMaterialWrapper>,
                        private LiveCounted<MaterialWrapper> {
 public:
  static constexpr const char kLiveName[] = "MaterialWrapper";

  // Holds a reference on the handle, which may be null.
  MaterialWrapper(const char* name, iMaterialHandle* handle);

  const char* GetName() override { return name_.c_str(); }
  iMaterialHandle* GetMaterialHandle() override { return handle_.get(); }
  // Nothing in this engine depends on a material's use, so a visit writes
  // nothing: threads drawing characters of one material all visit it, and a
  // counter added to on every visit kept the wrapper's cache line, and the
  // handle read beside it, moving between the cores.
  void Visit() override {}

 private:
  std::string name_;
  csRef<iMaterialHandle> handle_;
};

class TextureList : public scfImplementation<TextureList, iTextureList>,
                    private LiveCounted<TextureList> {
 public:
  static constexpr const char kLiveName[] = "TextureList";

  // An unnamed texture; null for a null image. The list keeps the only
  // reference: none is handed to the caller.
  iTextureWrapper* NewTexture(iImage* image) override { return AddTexture("", image); }
  int GetCount() override { return static_cast<int>(textures_.size()); }
  // Null outside 0..GetCount()-1.
  iTextureWrapper* Get(int index) override;
  // The last texture of that name, or null.
  iTextureWrapper* FindByName(const char* name) override;

  // NewTexture with a name; the same terms.
  iTextureWrapper* AddTexture(const char* name, iImage* image);

 private:
  std::vector<csRef<TextureWrapper>> textures_;
};

}  // namespace rwengine
