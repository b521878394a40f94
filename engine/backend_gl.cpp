#include "engine/backend_gl.h"

#include <algorithm>

#include "host/engine_loading.h"

namespace rwengine {

static_assert(sizeof(csRGBpixel) == 4, "images are uploaded as they are, four bytes a pixel");
static_assert(sizeof(csTriangle) == 3 * sizeof(GLuint), "triangles are drawn as index arrays");
static_assert(sizeof(csVector3) == 3 * sizeof(GLfloat) &&
                  sizeof(csVector2) == 2 * sizeof(GLfloat) &&
                  sizeof(csColor) == 3 * sizeof(GLfloat),
              "locked arrays are handed to GL as they are");

bool GlApi::Load(Lookup lookup, void* context, std::string* missing) {
#define RIGWEAVE_GL_LOAD(name)                                     \
  name = reinterpret_cast<decltype(name)>(lookup(#name, context)); \
  if (name == nullptr) {                                           \
    if (missing != nullptr) *missing = #name;                      \
    return false;                                                  \
  }
  RIGWEAVE_GL_FUNCTIONS(RIGWEAVE_GL_LOAD)
#undef RIGWEAVE_GL_LOAD
  return true;
}

// Adds the time between its construction and destruction to the backend's
// busy time, so that module time can be told apart from ours.
class GlBackend::Busy {
 public:
  explicit Busy(GlBackend& backend) : backend_(backend), start_(std::chrono::steady_clock::now()) {}
  ~Busy() { backend_.busy_ += std::chrono::steady_clock::now() - start_; }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;

 private:
  GlBackend& backend_;
  std::chrono::steady_clock::time_point start_;
};

GlBackend::GlBackend(const GlApi& api) : gl_(api) {}

GlBackend::~GlBackend() {
  ForgetAllTextures();
}

void GlBackend::SetBackground(uint8_t red, uint8_t green, uint8_t blue) {
  background_[0] = red / 255.0f;
  background_[1] = green / 255.0f;
  background_[2] = blue / 255.0f;
}

void GlBackend::SetDepthRange(double near, double far) {
  if (!(near > 0 && far > near)) return;
  near_ = near;
  far_ = far;
}

void GlBackend::BeginFrame(int width, int height) {
  Busy busy(*this);
  gl_.glViewport(0, 0, width, height);
  gl_.glClearColor(background_[0], background_[1], background_[2], 1.0f);
  gl_.glClearDepth(1.0);
  gl_.glDepthMask(GL_TRUE);
  gl_.glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  gl_.glShadeModel(GL_SMOOTH);
  gl_.glEnable(GL_CULL_FACE);
  gl_.glCullFace(GL_BACK);
  gl_.glDisable(GL_LIGHTING);
  gl_.glDisable(GL_BLEND);
  gl_.glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  gl_.glPixelStorei(GL_PACK_ALIGNMENT, 1);
}

void GlBackend::EndFrame() {
  Busy busy(*this);
  // GL queues work; waiting here puts the rasteriser's time in ours.
  gl_.glFinish();
}

void GlBackend::SetRenderState(G3D_RENDERSTATEOPTION, int32_t) {}

void GlBackend::SetObjectToCamera(const csReversibleTransform&) {}

void GlBackend::ApplyZMode(csZBufMode mode) {
  switch (mode) {
    case CS_ZBUF_USE:
      gl_.glEnable(GL_DEPTH_TEST);
      gl_.glDepthFunc(GL_LEQUAL);
      gl_.glDepthMask(GL_TRUE);
      break;
    case CS_ZBUF_FILL:
      // A disabled depth test writes no depth either, hence "always".
      gl_.glEnable(GL_DEPTH_TEST);
      gl_.glDepthFunc(GL_ALWAYS);
      gl_.glDepthMask(GL_TRUE);
      break;
    case CS_ZBUF_TEST:
      gl_.glEnable(GL_DEPTH_TEST);
      gl_.glDepthFunc(GL_LEQUAL);
      gl_.glDepthMask(GL_FALSE);
      break;
    case CS_ZBUF_NONE:
    default:
      gl_.glDisable(GL_DEPTH_TEST);
      gl_.glDepthMask(GL_FALSE);
      break;
  }
}

void GlBackend::LoadMatrices(const DrawGeometry& geometry, bool mirrored) {
  const Projection& p = geometry.projection;
  const double w = p.width > 0 ? p.width : 1, h = p.height > 0 ? p.height : 1;
  const double n = near_, f = far_;
  // GL's eye looks down -z; this lands (x, y, -z) at centre + aspect * (x, y) / z.
  double projection[16] = {};
  projection[0] = 2.0 * p.aspect / w;
  projection[5] = 2.0 * p.aspect / h;
  projection[8] = 1.0 - 2.0 * p.centerX / w;
  projection[9] = 1.0 - 2.0 * p.centerY / h;
  projection[10] = -(f + n) / (f - n);
  projection[11] = -1.0;
  projection[14] = -2.0 * f * n / (f - n);
  gl_.glMatrixMode(GL_PROJECTION);
  gl_.glLoadMatrixd(projection);

  // Camera space to GL eye space turns z round, and x too in a mirror.
  const csMatrix3& m = geometry.objectToCamera.GetO2T();
  const double sx = mirrored ? -1.0 : 1.0;
  const double r[3][3] = {
      {sx * m.m11, sx * m.m12, sx * m.m13}, {m.m21, m.m22, m.m23}, {-m.m31, -m.m32, -m.m33}};
  const csVector3& o = geometry.objectToCamera.GetOrigin();
  double modelview[16] = {};
  for (int row = 0; row < 3; row++) {
    for (int col = 0; col < 3; col++) modelview[col * 4 + row] = r[row][col];
    modelview[12 + row] = -(r[row][0] * o.x + r[row][1] * o.y + r[row][2] * o.z);
  }
  modelview[15] = 1.0;
  gl_.glMatrixMode(GL_MODELVIEW);
  gl_.glLoadMatrixd(modelview);
}

GLuint GlBackend::TextureFor(const G3DTriangleMesh& record) {
  if (record.mat_handle == nullptr) return 0;
  iTextureHandle* handle = record.mat_handle->GetTexture();
  if (handle == nullptr) return 0;
  auto it = textures_.find(handle);
  if (it != textures_.end()) return it->second.second;

  iImage* image = handle->GetImage();
  GLuint name = 0;
  if (image != nullptr && image->GetFormat() == CS_IMGFMT_TRUECOLOR && image->GetWidth() > 0 &&
      image->GetHeight() > 0 && image->GetImageData() != nullptr) {
    gl_.glGenTextures(1, &name);
    gl_.glBindTexture(GL_TEXTURE_2D, name);
    gl_.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    gl_.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    gl_.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    // Crowds show characters a few pixels tall: mipmaps keep them from sparkling.
    gl_.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR_MIPMAP_LINEAR);
    gl_.glTexParameteri(GL_TEXTURE_2D, GL_GENERATE_MIPMAP, GL_TRUE);
    gl_.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, image->GetWidth(), image->GetHeight(), 0, GL_RGBA,
                     GL_UNSIGNED_BYTE, image->GetImageData());
    uploads_++;
  }
  // Unusable images are remembered too, as zero, so they are not retried every frame.
  textures_.emplace(handle, std::make_pair(csRef<iTextureHandle>(handle), name));
  return name;
}

void GlBackend::DrawTriangleMesh(const G3DTriangleMesh& record, const DrawGeometry& geometry) {
  Busy busy(*this);
  if (record.num_triangles <= 0 || geometry.vertices == nullptr) return;
  LoadMatrices(geometry, record.do_mirror);
  ApplyZMode(geometry.zbufMode);
  gl_.glFrontFace(record.do_mirror ? GL_CCW : GL_CW);

  if ((record.mixmode & CS_FX_KEYCOLOR) != 0) {
    gl_.glEnable(GL_ALPHA_TEST);
    gl_.glAlphaFunc(GL_GREATER, 0.5f);
  } else {
    gl_.glDisable(GL_ALPHA_TEST);
  }

  const GLuint texture = geometry.texels != nullptr ? TextureFor(record) : 0;
  const bool colored = record.use_vertex_color && geometry.colors != nullptr;
  if (texture != 0) {
    gl_.glEnable(GL_TEXTURE_2D);
    gl_.glBindTexture(GL_TEXTURE_2D, texture);
    gl_.glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, colored ? GL_MODULATE : GL_REPLACE);
    gl_.glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    gl_.glTexCoordPointer(2, GL_FLOAT, 0, geometry.texels);
  } else {
    gl_.glDisable(GL_TEXTURE_2D);
    gl_.glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  }
  if (colored) {
    gl_.glEnableClientState(GL_COLOR_ARRAY);
    gl_.glColorPointer(3, GL_FLOAT, 0, geometry.colors);
  } else {
    gl_.glDisableClientState(GL_COLOR_ARRAY);
    gl_.glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
  }
  gl_.glEnableClientState(GL_VERTEX_ARRAY);
  gl_.glVertexPointer(3, GL_FLOAT, 0, geometry.vertices);
  gl_.glDrawElements(GL_TRIANGLES, 3 * record.num_triangles, GL_UNSIGNED_INT, record.triangles);
  draws_++;
  triangles_ += record.num_triangles;

  if (record.do_fog && record.vertex_fog != nullptr) DrawFog(record, geometry);
}

// Fog goes on as a second, blended pass over what was just drawn: the fog
// colour at each vertex's intensity, no texture.
void GlBackend::DrawFog(const G3DTriangleMesh& record, const DrawGeometry& geometry) {
  const size_t count = static_cast<size_t>(geometry.count);
  if (fogColors_.size() < 4 * count) fogColors_.resize(4 * count);
  bool any = false;
  for (size_t i = 0; i < count; i++) {
    const G3DFogInfo& fog = record.vertex_fog[i];
    fogColors_[4 * i] = fog.r;
    fogColors_[4 * i + 1] = fog.g;
    fogColors_[4 * i + 2] = fog.b;
    fogColors_[4 * i + 3] = std::clamp(fog.intensity, 0.0f, 1.0f);
    any = any || fog.intensity > 0.0f;
  }
  if (!any) return;
  gl_.glDisable(GL_TEXTURE_2D);
  gl_.glDisable(GL_ALPHA_TEST);
  gl_.glDisableClientState(GL_TEXTURE_COORD_ARRAY);
  gl_.glEnableClientState(GL_COLOR_ARRAY);
  gl_.glColorPointer(4, GL_FLOAT, 0, fogColors_.data());
  gl_.glEnable(GL_BLEND);
  gl_.glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  if (geometry.zbufMode == CS_ZBUF_USE || geometry.zbufMode == CS_ZBUF_TEST) {
    gl_.glEnable(GL_DEPTH_TEST);
    gl_.glDepthFunc(GL_LEQUAL);
  }
  gl_.glDepthMask(GL_FALSE);
  gl_.glDrawElements(GL_TRIANGLES, 3 * record.num_triangles, GL_UNSIGNED_INT, record.triangles);
  gl_.glDisable(GL_BLEND);
  gl_.glDisableClientState(GL_COLOR_ARRAY);
}

void GlBackend::ReadPixels(int width, int height, std::vector<uint8_t>& rgb) {
  const size_t row = static_cast<size_t>(width) * 3;
  rgb.resize(row * static_cast<size_t>(height));
  if (width <= 0 || height <= 0) return;
  gl_.glPixelStorei(GL_PACK_ALIGNMENT, 1);
  gl_.glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
  // GL reads bottom row first.
  for (int top = 0, bottom = height - 1; top < bottom; top++, bottom--)
    std::swap_ranges(rgb.begin() + static_cast<std::ptrdiff_t>(row * top),
                     rgb.begin() + static_cast<std::ptrdiff_t>(row * (top + 1)),
                     rgb.begin() + static_cast<std::ptrdiff_t>(row * bottom));
}

void GlBackend::ForgetTexture(iTextureHandle* handle) {
  auto it = textures_.find(handle);
  if (it == textures_.end()) return;
  if (it->second.second != 0) gl_.glDeleteTextures(1, &it->second.second);
  textures_.erase(it);
}

void GlBackend::ForgetAllTextures() {
  for (auto& entry : textures_)
    if (entry.second.second != 0) gl_.glDeleteTextures(1, &entry.second.second);
  textures_.clear();
}

void GlBackend::ResetCounters() {
  busy_ = std::chrono::duration<double>(0);
  triangles_ = 0;
  draws_ = 0;
}

}  // namespace rwengine
