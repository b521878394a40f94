// The engine's materials and texture list.
#include <gtest/gtest.h>

#include "engine/engine.h"
#include "engine/materials.h"
#include "host/image.h"
#include "engine_test.h"

namespace rwengine {
namespace {

using namespace test;

csRef<iImage> SmallImage() {
  return Make<iImage>(new csImageMemory(2, 2, new csRGBpixel[4], true));
}

TEST_F(EngineTest, FindMaterialReturnsTheLastOfAName) {
  auto engine = Make(new Engine);
  csRef<iImage> image = SmallImage();
  iTextureWrapper* texture = engine->GetTextureList()->NewTexture(image.get());
  ASSERT_NE(texture, nullptr);
  iMaterialWrapper* first = engine->CreateMaterial("skin", texture);
  iMaterialWrapper* second = engine->CreateMaterial("skin", nullptr);
  engine->CreateMaterial("other", texture);
  EXPECT_EQ(engine->FindMaterial("skin"), second);
  EXPECT_NE(engine->FindMaterial("skin"), first);
  EXPECT_EQ(engine->FindMaterial("none"), nullptr);
  EXPECT_EQ(engine->FindMaterial(nullptr), nullptr);
  // Made from no texture: no handle, which the module must treat as unusable.
  EXPECT_EQ(second->GetMaterialHandle(), nullptr);
  ASSERT_NE(first->GetMaterialHandle(), nullptr);
  EXPECT_EQ(first->GetMaterialHandle()->GetTexture()->GetImage(), image.get());
  // Handed out without references: the engine's are the only ones.
  EXPECT_EQ(first->GetRefCount(), 1);
  EXPECT_EQ(texture->GetRefCount(), 1);
}

TEST_F(EngineTest, TextureListKeepsTheImageAfterItsCreatorLetsGo) {
  auto engine = Make(new Engine);
  iImage* image = new csImageMemory(2, 2, new csRGBpixel[4], true);
  iTextureWrapper* texture = engine->GetTextureList()->NewTexture(image);
  ASSERT_NE(texture, nullptr);
  image->DecRef();  // what the module does right after NewTexture
  EXPECT_EQ(texture->GetImage()->GetWidth(), 2);
  EXPECT_EQ(texture->GetTextureHandle()->GetImage(), texture->GetImage());
  EXPECT_EQ(engine->GetTextureList()->GetCount(), 1);
  EXPECT_EQ(engine->GetTextureList()->Get(0), texture);
  EXPECT_EQ(engine->GetTextureList()->Get(1), nullptr);
  EXPECT_EQ(engine->GetTextureList()->NewTexture(nullptr), nullptr);
}

}  // namespace
}  // namespace rwengine
