// The engine's loader, material and texture lists, and images, as a mesh
// object uses them when it loads a model.
#pragma once

#include <cstdint>

#include "host/graphics.h"
#include "host/scf.h"

struct iRegion;
struct iTextureManager;

// One true-colour pixel.
struct csRGBpixel {
  uint8_t red = 0, green = 0, blue = 0, alpha = 255;
};

enum csImageFormat : int32_t { CS_IMGFMT_TRUECOLOR = 1 };

struct iImage : iBase {
  SCF_INTERFACE(iImage, 0, 0, 1)
  virtual const void* GetImageData() = 0;
  virtual int GetWidth() = 0;
  virtual int GetHeight() = 0;
  virtual int GetFormat() = 0;

 protected:
  ~iImage() = default;
};

struct iTextureWrapper : iBase {
  SCF_INTERFACE(iTextureWrapper, 0, 0, 1)
  virtual const char* GetName() = 0;
  virtual iImage* GetImage() = 0;
  virtual iTextureHandle* GetTextureHandle() = 0;

 protected:
  ~iTextureWrapper() = default;
};

struct iMaterialWrapper : iBase {
  SCF_INTERFACE(iMaterialWrapper, 0, 0, 1)
  virtual const char* GetName() = 0;
  virtual void ReservedSlot5() {}
  virtual void ReservedSlot6() {}
  virtual void ReservedSlot7() {}
  // 8.
  virtual iMaterialHandle* GetMaterialHandle() = 0;
  virtual void ReservedSlot9() {}
  virtual void ReservedSlot10() {}
  virtual void ReservedSlot11() {}
  // 12. Tells the engine the material is about to be used in this frame.
  virtual void Visit() = 0;

 protected:
  ~iMaterialWrapper() = default;
};

struct iTextureList : iBase {
  SCF_INTERFACE(iTextureList, 0, 0, 1)
  // A new texture made from the image; the list keeps it and a reference on the image.
  virtual iTextureWrapper* NewTexture(iImage* image) = 0;
  virtual int GetCount() = 0;
  virtual iTextureWrapper* Get(int index) = 0;
  virtual iTextureWrapper* FindByName(const char* name) = 0;

 protected:
  ~iTextureList() = default;
};

struct iEngine : iBase {
  SCF_INTERFACE(iEngine, 0, 0, 1)
  // The material of that name, without a reference for the caller; null when none.
  virtual iMaterialWrapper* FindMaterial(const char* name, iRegion* region = nullptr) = 0;
  virtual iTextureList* GetTextureList() = 0;
  // A new material showing the texture, kept by the engine's material list.
  virtual iMaterialWrapper* CreateMaterial(const char* name, iTextureWrapper* texture) = 0;

 protected:
  ~iEngine() = default;
};

struct iLoader : iBase {
  SCF_INTERFACE(iLoader, 0, 0, 1)
  // Loads the file from the engine's virtual file system as a texture of that
  // name, and a material of the same name that shows it.
  virtual iTextureWrapper* LoadTexture(const char* name, const char* fname, int flags,
                                       iTextureManager* tm, bool reg) = 0;

 protected:
  ~iLoader() = default;
};
