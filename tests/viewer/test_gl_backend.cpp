// The GL backend on its own, off-screen, with geometry made here: where it
// puts points, which winding it shows, how it treats the z modes, texture
// rows, its texture cache, fog, and that a steady frame costs no heap.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "engine/backend_gl.h"
#include "engine/materials.h"
#include "host/image.h"
#include "host/ref.h"
#include "viewer/gl_context.h"
#include "viewer/png.h"

// Counted by the replacement operator new in allocation_counter.cpp.
extern std::atomic<long> rigweaveAllocations;

namespace {

constexpr int kSize = 64;
constexpr float kFocal = 64.0f;  // a 90 degree view across 64 pixels

struct Colour {
  uint8_t r, g, b;
};
const Colour kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255};

csRef<iMaterialHandle> SolidMaterial(Colour c, int size = 4) {
  auto* pixels = new csRGBpixel[static_cast<size_t>(size) * size];
  for (int i = 0; i < size * size; i++) pixels[i] = {c.r, c.g, c.b, 255};
  auto image = csRef<iImage>::Adopt(new csImageMemory(size, size, pixels, true));
  auto texture = csRef<iTextureHandle>::Adopt(new rwengine::TextureHandle(image.get()));
  return csRef<iMaterialHandle>::Adopt(new rwengine::MaterialHandle(texture.get()));
}

struct Mesh {
  std::vector<csVector3> vertices;
  std::vector<csVector2> texels;
  std::vector<csTriangle> triangles;
};

// A square facing the eye at camera-space depth z, wound so that it is seen
// from its front (clockwise on screen), texels (0,0) bottom left to (1,1).
Mesh Square(float x0, float y0, float x1, float y1, float z) {
  Mesh m;
  m.vertices = {{x0, y0, z}, {x1, y0, z}, {x1, y1, z}, {x0, y1, z}};
  m.texels = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  m.triangles = {{0, 2, 1}, {0, 3, 2}};
  return m;
}

// A cube of half-size 1 around the origin, every face wound counter-clockwise
// about its outward normal in right-handed terms, as Cal3D models are.
Mesh Cube() {
  Mesh m;
  for (int i = 0; i < 8; i++)
    m.vertices.emplace_back(i & 4 ? 1.f : -1.f, i & 2 ? 1.f : -1.f, i & 1 ? 1.f : -1.f);
  m.texels.assign(8, csVector2(0.5f, 0.5f));
  const int quads[6][4] = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1},
                           {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 5, 7, 3}};
  for (const auto& q : quads) {
    m.triangles.push_back({q[0], q[1], q[2]});
    m.triangles.push_back({q[0], q[2], q[3]});
  }
  return m;
}

class GlBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    context = rwview::CreateOffscreenContext(kSize, kSize, error);
    ASSERT_TRUE(context) << error;
    backend = std::make_unique<rwengine::GlBackend>(context->Api());
    backend->SetBackground(0, 0, 0);
  }
  void TearDown() override {
    backend.reset();
    context.reset();
  }

  rwengine::DrawGeometry Geometry(const Mesh& mesh, const csReversibleTransform& o2c,
                                  csZBufMode mode) {
    rwengine::DrawGeometry g;
    g.vertices = mesh.vertices.data();
    g.texels = mesh.texels.data();
    g.count = static_cast<int>(mesh.vertices.size());
    g.projection.aspect = kFocal;
    g.projection.centerX = g.projection.centerY = kSize / 2;
    g.projection.width = g.projection.height = kSize;
    g.objectToCamera = o2c;
    g.zbufMode = mode;
    return g;
  }

  void Draw(Mesh& mesh, iMaterialHandle* material, const csReversibleTransform& o2c = {},
            bool mirrored = false, csZBufMode mode = CS_ZBUF_USE, G3DFogInfo* fog = nullptr) {
    G3DTriangleMesh record{};
    record.num_vertices_pool = 1;
    record.num_triangles = static_cast<int32_t>(mesh.triangles.size());
    record.triangles = mesh.triangles.data();
    record.mat_handle = material;
    record.mixmode = CS_FX_KEYCOLOR;
    record.do_mirror = mirrored;
    record.do_fog = fog != nullptr;
    record.vertex_fog = fog;
    backend->DrawTriangleMesh(record, Geometry(mesh, o2c, mode));
  }

  // As the module does: the triangles, then the same turned round (and,
  // unlike the module, turned back afterwards).
  void DrawBothWays(Mesh& mesh, iMaterialHandle* first, iMaterialHandle* second,
                    const csReversibleTransform& o2c, bool mirrored) {
    Draw(mesh, first, o2c, mirrored);
    for (csTriangle& t : mesh.triangles) std::swap(t.b, t.c);
    Draw(mesh, second, o2c, mirrored);
    for (csTriangle& t : mesh.triangles) std::swap(t.b, t.c);
  }

  rwview::Picture Finish() {
    backend->EndFrame();
    rwview::Picture picture;
    picture.width = picture.height = kSize;
    backend->ReadPixels(kSize, kSize, picture.rgb);
    return picture;
  }

  static bool Is(const rwview::Picture& p, int x, int y, Colour c, int tolerance = 8) {
    const uint8_t* px = p.At(x, y);
    return std::abs(px[0] - c.r) <= tolerance && std::abs(px[1] - c.g) <= tolerance &&
           std::abs(px[2] - c.b) <= tolerance;
  }

  // Middle of the pixels that are not black, in picture coordinates (top down).
  static csVector2 Centroid(const rwview::Picture& p) {
    double sx = 0, sy = 0;
    int n = 0;
    for (int y = 0; y < p.height; y++)
      for (int x = 0; x < p.width; x++)
        if (p.At(x, y)[0] + p.At(x, y)[1] + p.At(x, y)[2] > 0) sx += x + 0.5, sy += y + 0.5, n++;
    return n == 0 ? csVector2(-1, -1) : csVector2(float(sx / n), float(sy / n));
  }

  std::unique_ptr<rwview::GlContext> context;
  std::unique_ptr<rwengine::GlBackend> backend;
};

TEST_F(GlBackendTest, FirstDrawOfOutwardTrianglesIsTheFaceSeenFromOutside) {
  Mesh cube = Cube();
  for (const csTriangle& t : cube.triangles) {
    const csVector3 &a = cube.vertices[t.a], &b = cube.vertices[t.b], &c = cube.vertices[t.c];
    ASSERT_GT(Dot(Cross(b - a, c - a), a + b + c), 0) << "the cube must be wound outwards";
  }
  auto outside = SolidMaterial(kRed), inside = SolidMaterial(kGreen);
  // The eye 5 units in front of the cube, looking at it; then at its centre.
  const csReversibleTransform away(csMatrix3(), csVector3(0, 0, -5));
  const csReversibleTransform within(csMatrix3(), csVector3(0, 0, 0));
  for (bool mirrored : {false, true}) {
    SCOPED_TRACE(mirrored ? "mirrored" : "plain");
    backend->BeginFrame(kSize, kSize);
    DrawBothWays(cube, outside.get(), inside.get(), away, mirrored);
    EXPECT_TRUE(Is(Finish(), kSize / 2, kSize / 2, kRed));

    backend->BeginFrame(kSize, kSize);
    DrawBothWays(cube, outside.get(), inside.get(), within, mirrored);
    EXPECT_TRUE(Is(Finish(), kSize / 2, kSize / 2, kGreen));
  }
}

TEST_F(GlBackendTest, PointsLandWhereTheEngineProjectsThem) {
  auto red = SolidMaterial(kRed);
  // Camera-space (1, 0.5, 4) is at x = 32 + 64 / 4 = 48 and 16 / 2 = 8 above
  // the middle, 24 rows from the top; a mirror puts it at x = 16.
  Mesh square = Square(0.75f, 0.25f, 1.25f, 0.75f, 4);
  struct Case {
    const char* name;
    csReversibleTransform o2c;
    Mesh mesh;
    bool mirrored;
    float x, y;
  };
  // The same point seen by a camera turned to look down world +x.
  csReversibleTransform turned;
  turned.LookAt(csVector3(4, 0, 0), csVector3(0, 1, 0));
  Mesh world = square;
  for (csVector3& v : world.vertices) v = turned.This2Other(v);
  const Case cases[] = {{"identity", {}, square, false, 48, 24},
                        {"mirrored", {}, square, true, 16, 24},
                        {"turned camera", turned, world, false, 48, 24},
                        {"moved object", csReversibleTransform(csMatrix3(), csVector3(0, 0, -2)),
                         Square(0.75f, 0.25f, 1.25f, 0.75f, 2), false, 48, 24}};
  for (Case c : cases) {
    SCOPED_TRACE(c.name);
    backend->BeginFrame(kSize, kSize);
    Draw(c.mesh, red.get(), c.o2c, c.mirrored);
    const csVector2 middle = Centroid(Finish());
    EXPECT_NEAR(middle.x, c.x, 0.75);
    EXPECT_NEAR(middle.y, c.y, 0.75);
  }
}

TEST_F(GlBackendTest, ZBufferModes) {
  auto red = SolidMaterial(kRed), green = SolidMaterial(kGreen);
  Mesh nearSquare = Square(-0.5f, -0.5f, 0.5f, 0.5f, 2), farSquare = Square(-2, -2, 2, 2, 4);
  struct Case {
    const char* name;
    csZBufMode nearMode, farMode;
    Colour expected;
  };
  // The near square first, then the far one over it.
  const Case cases[] = {
      {"use hides what is behind", CS_ZBUF_USE, CS_ZBUF_USE, kRed},
      {"test alone hides what is behind", CS_ZBUF_USE, CS_ZBUF_TEST, kRed},
      {"fill writes depth without testing", CS_ZBUF_FILL, CS_ZBUF_USE, kRed},
      {"none ignores depth", CS_ZBUF_USE, CS_ZBUF_NONE, kGreen},
      {"test writes no depth", CS_ZBUF_TEST, CS_ZBUF_USE, kGreen},
      {"none writes no depth", CS_ZBUF_NONE, CS_ZBUF_USE, kGreen},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    backend->BeginFrame(kSize, kSize);
    Draw(nearSquare, red.get(), {}, false, c.nearMode);
    Draw(farSquare, green.get(), {}, false, c.farMode);
    const rwview::Picture picture = Finish();
    EXPECT_TRUE(Is(picture, kSize / 2, kSize / 2, c.expected));
    EXPECT_TRUE(Is(picture, 2, 2, kGreen)) << "the far square shows around the near one";
  }
  // Fill draws whatever depth is there already.
  backend->BeginFrame(kSize, kSize);
  Draw(nearSquare, red.get());
  Draw(farSquare, green.get(), {}, false, CS_ZBUF_FILL);
  EXPECT_TRUE(Is(Finish(), kSize / 2, kSize / 2, kGreen));
}

TEST_F(GlBackendTest, ImageRowZeroIsAtTheBottomOfTexelSpace) {
  // Rows 0-3 red, 4-7 blue.
  auto* pixels = new csRGBpixel[64];
  for (int i = 0; i < 64; i++)
    pixels[i] = i < 32 ? csRGBpixel{255, 0, 0, 255} : csRGBpixel{0, 0, 255, 255};
  auto image = csRef<iImage>::Adopt(new csImageMemory(8, 8, pixels, true));
  auto texture = csRef<iTextureHandle>::Adopt(new rwengine::TextureHandle(image.get()));
  auto material = csRef<iMaterialHandle>::Adopt(new rwengine::MaterialHandle(texture.get()));
  // Texel v = 0 along the bottom edge, rows 16 to 48 of the picture.
  Mesh square = Square(-1, -1, 1, 1, 4);
  backend->BeginFrame(kSize, kSize);
  Draw(square, material.get());
  const rwview::Picture picture = Finish();
  EXPECT_TRUE(Is(picture, kSize / 2, 44, kRed, 16));
  EXPECT_TRUE(Is(picture, kSize / 2, 20, kBlue, 16));
}

TEST_F(GlBackendTest, UploadsEachTextureOnceUntilForgotten) {
  auto red = SolidMaterial(kRed), green = SolidMaterial(kGreen);
  iTextureHandle* redTexture = red->GetTexture();
  const int references = redTexture->GetRefCount();
  Mesh square = Square(-1, -1, 1, 1, 4);
  for (int frame = 0; frame < 3; frame++) {
    backend->BeginFrame(kSize, kSize);
    Draw(square, red.get());
    Draw(square, red.get());
    Draw(square, green.get());
    Finish();
  }
  EXPECT_EQ(backend->TextureUploads(), 2);
  EXPECT_EQ(backend->TexturesCached(), 2);
  EXPECT_EQ(redTexture->GetRefCount(), references + 1) << "the cache keeps the handle alive";

  backend->ForgetTexture(redTexture);
  EXPECT_EQ(redTexture->GetRefCount(), references);
  backend->BeginFrame(kSize, kSize);
  Draw(square, red.get());
  EXPECT_TRUE(Is(Finish(), kSize / 2, kSize / 2, kRed));
  EXPECT_EQ(backend->TextureUploads(), 3);

  backend->ForgetAllTextures();
  EXPECT_EQ(backend->TexturesCached(), 0);
  EXPECT_EQ(redTexture->GetRefCount(), references);
}

TEST_F(GlBackendTest, FogBlendsTowardsTheFogColourByIntensity) {
  auto red = SolidMaterial(kRed);
  Mesh square = Square(-1, -1, 1, 1, 4);
  struct Case {
    float intensity;
    Colour expected;
  };
  for (const Case& c :
       {Case{0.0f, kRed}, Case{0.5f, {255, 128, 128}}, Case{1.0f, {255, 255, 255}}}) {
    SCOPED_TRACE(c.intensity);
    std::vector<G3DFogInfo> fog(4, G3DFogInfo{1.0f, 1.0f, 1.0f, c.intensity});
    backend->BeginFrame(kSize, kSize);
    Draw(square, red.get(), {}, false, CS_ZBUF_USE, fog.data());
    EXPECT_TRUE(Is(Finish(), kSize / 2, kSize / 2, c.expected, 3));
  }
}

TEST_F(GlBackendTest, SteadyFramesAllocateNothing) {
  auto red = SolidMaterial(kRed), green = SolidMaterial(kGreen);
  Mesh cube = Cube();
  std::vector<G3DFogInfo> fog(cube.vertices.size(), G3DFogInfo{1, 1, 1, 0.3f});
  const csReversibleTransform away(csMatrix3(), csVector3(0, 0, -5));
  auto frame = [&] {
    backend->BeginFrame(kSize, kSize);
    DrawBothWays(cube, red.get(), green.get(), away, false);
    Draw(cube, red.get(), away, false, CS_ZBUF_USE, fog.data());
    backend->EndFrame();
  };
  frame();
  const long before = rigweaveAllocations.load();
  for (int i = 0; i < 5; i++) frame();
  EXPECT_EQ(rigweaveAllocations.load() - before, 0);
}

}  // namespace
