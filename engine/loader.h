// The engine's loader, as far as mesh objects use it: textures from the
// engine's virtual file system.
#pragma once

#include "engine/engine.h"
#include "engine/live_objects.h"
#include "host/engine_loading.h"
#include "host/ref.h"
#include "host/scf_impl.h"

namespace rwengine {

class Loader : public scfImplementation<Loader, iLoader>, private LiveCounted<Loader> {
 public:
  static constexpr const char kLiveName[] = "Loader";
  // The only file of the virtual file system: generated, not read.
  static constexpr const char kStoneTexture[] = "/lib/std/stone4.gif";
  static constexpr int kStoneSize = 64;

  // Holds a reference on the engine it loads into.
  explicit Loader(Engine* engine);

  // Adds a texture named `name` (the path when null) to the engine's texture
  // list and a material of that name showing it; the texture comes back
  // without a reference. Null for any path the file system does not have.
  // Flags, texture manager and region registration change nothing here.
  iTextureWrapper* LoadTexture(const char* name, const char* fname, int flags, iTextureManager* tm,
                               bool reg) override;

  // A new stone image, kStoneSize pixels square, with one reference for the caller.
  static iImage* MakeStoneImage();

  // On: the stone file reads as plain white, the file system of an
  // application that lights its characters. The module gives a sub-mesh
  // without a readable map that file's material, and the renderer multiplies
  // it by the vertex colours: white lets a lit material's diffuse colour show
  // as it is instead of through grey cobbles. Textures loaded before keep
  // their pixels. Off by default.
  void SetPlainFallback(bool plain) { plain_ = plain; }

 private:
  // One white pixel, with one reference for the caller.
  static iImage* MakeWhiteImage();

  csRef<Engine> engine_;
  csRef<iImage> stone_;
  csRef<iImage> white_;
  bool plain_ = false;
};

}  // namespace rwengine
