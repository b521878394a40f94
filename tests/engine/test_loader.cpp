// The loader: the one texture of its file system, and nothing else.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/engine.h"
#include "engine/loader.h"
#include "host/image.h"
#include "engine_test.h"

namespace rwengine {
namespace {

using namespace test;

TEST_F(EngineTest, LoaderMakesTheStoneTextureAndRefusesOtherPaths) {
  auto engine = Make(new Engine);
  auto loader = Make(new Loader(engine.get()));
  iTextureWrapper* texture =
      loader->LoadTexture("hero.cfg", "/lib/std/stone4.gif", 2, nullptr, false);
  ASSERT_NE(texture, nullptr);
  EXPECT_STREQ(texture->GetName(), "hero.cfg");
  EXPECT_EQ(engine->GetTextureList()->FindByName("hero.cfg"), texture);
  iMaterialWrapper* material = engine->FindMaterial("hero.cfg");
  ASSERT_NE(material, nullptr);
  ASSERT_NE(material->GetMaterialHandle(), nullptr);
  iImage* image = material->GetMaterialHandle()->GetTexture()->GetImage();
  ASSERT_EQ(image, texture->GetImage());
  ASSERT_EQ(image->GetWidth(), 64);
  ASSERT_EQ(image->GetHeight(), 64);
  EXPECT_EQ(image->GetFormat(), CS_IMGFMT_TRUECOLOR);

  // Grey cobbles in dark mortar: every pixel grey and opaque, both present.
  const auto* pixels = static_cast<const csRGBpixel*>(image->GetImageData());
  int mortar = 0, stone = 0;
  for (int i = 0; i < 64 * 64; i++) {
    EXPECT_EQ(pixels[i].red, pixels[i].green);
    EXPECT_EQ(pixels[i].green, pixels[i].blue);
    EXPECT_EQ(pixels[i].alpha, 255);
    mortar += pixels[i].red < 64;
    stone += pixels[i].red > 96;
  }
  EXPECT_GT(mortar, 64 * 64 / 20);
  EXPECT_GT(stone, 64 * 64 / 2);

  // Plain, the same file is one white pixel; what was loaded keeps its stone.
  loader->SetPlainFallback(true);
  iTextureWrapper* plain = loader->LoadTexture("lit.cfg", "/lib/std/stone4.gif", 2, nullptr, false);
  ASSERT_NE(plain, nullptr);
  iImage* white = plain->GetImage();
  ASSERT_EQ(white->GetWidth(), 1);
  ASSERT_EQ(white->GetHeight(), 1);
  const auto* pixel = static_cast<const csRGBpixel*>(white->GetImageData());
  EXPECT_EQ(pixel->red + pixel->green + pixel->blue + pixel->alpha, 4 * 255);
  EXPECT_EQ(texture->GetImage(), image);
  loader->SetPlainFallback(false);
  EXPECT_EQ(loader->LoadTexture("again.cfg", "/lib/std/stone4.gif", 2, nullptr, false)->GetImage(),
            image);

  EXPECT_EQ(loader->LoadTexture("x", "/lib/std/missing.gif", 2, nullptr, false), nullptr);
  EXPECT_EQ(loader->LoadTexture("x", "stone4.gif", 2, nullptr, false), nullptr);
  EXPECT_EQ(loader->LoadTexture("x", nullptr, 2, nullptr, false), nullptr);
  EXPECT_EQ(engine->FindMaterial("x"), nullptr);
  EXPECT_EQ(engine->GetTextureList()->GetCount(), 3);
}

}  // namespace
}  // namespace rwengine
