// The frame: Draw of the module against the same Cal3D work done directly.
#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "bench/instruments.h"
#include "bench/measurements.h"
#include "bench/walkers.h"
#include "engine/light.h"
#include "engine/movable.h"
#include "irigweavestate.h"

namespace rwbench {

namespace {

// The engine calls one Draw of the module makes, made by the benchmark
// itself with the same counts: per sub-mesh a lock, fog and draw, fog and
// draw again, and the unlock. What they cost is the host's share of a Draw.
class HostReplay {
 public:
  // Captures every sub-mesh's faces and vertex count from the character.
  bool Prepare(rwengine::Stage& stage, CalModel& model) {
    graphics_ = stage.GetGraphics();
    view_ = stage.GetView();
    manager_ = graphics_->GetVertexBufferManager();
    buffer_ = manager_->CreateBuffer(0);
    if (buffer_ == nullptr) return false;
    CalRenderer* renderer = model.getRenderer();
    if (!renderer->beginRendering()) return false;
    for (int mesh = 0; mesh < renderer->getMeshCount(); mesh++) {
      for (int sub = 0; sub < renderer->getSubmeshCount(mesh); sub++) {
        if (!renderer->selectMeshSubmesh(mesh, sub)) continue;
        Submesh part;
        part.vertexCount = renderer->getVertexCount();
        part.faces.resize(static_cast<size_t>(renderer->getFaceCount()));
        renderer->getFaces(&part.faces[0].a);
        part.fog.resize(static_cast<size_t>(part.vertexCount));
        parts_.push_back(std::move(part));
        maxVertices_ = std::max(maxVertices_, static_cast<size_t>(parts_.back().vertexCount));
      }
    }
    renderer->endRendering();
    vertices_.assign(maxVertices_, csVector3(0, 0, 0));
    texels_.assign(maxVertices_, csVector2(0, 0));
    colors_.assign(maxVertices_, csColor{1, 1, 1});
    for (Submesh& part : parts_) {
      G3DTriangleMesh& record = part.record;
      record = G3DTriangleMesh{};
      record.buffers[0] = buffer_;
      record.num_vertices_pool = 1;
      record.vertex_mode = VM_WORLDSPACE;
      record.vertex_fog = part.fog.data();
      record.num_triangles = static_cast<int32_t>(part.faces.size());
      record.triangles = part.faces.data();
      record.mixmode = CS_FX_KEYCOLOR;
    }
    return true;
  }
  ~HostReplay() {
    if (buffer_ != nullptr) buffer_->DecRef();
  }

  // One frame's host calls; false if the renderer refused a record.
  bool Frame() {
    const int rejected = graphics_->DrawsRejected();
    for (Submesh& part : parts_) {
      manager_->LockBuffer(buffer_, vertices_.data(), texels_.data(), colors_.data(),
                           part.vertexCount, 0);
      view_->CalculateFogMesh(graphics_->GetObjectToCamera(), part.record);
      graphics_->DrawTriangleMesh(part.record);
      view_->CalculateFogMesh(graphics_->GetObjectToCamera(), part.record);
      graphics_->DrawTriangleMesh(part.record);
      manager_->UnlockBuffer(buffer_);
    }
    return graphics_->DrawsRejected() == rejected;
  }

 private:
  struct Submesh {
    int vertexCount = 0;
    std::vector<csTriangle> faces;
    std::vector<G3DFogInfo> fog;
    G3DTriangleMesh record{};
  };
  rwengine::Graphics3D* graphics_ = nullptr;
  rwengine::RenderView* view_ = nullptr;
  iVertexBufferManager* manager_ = nullptr;
  iVertexBuffer* buffer_ = nullptr;
  std::vector<Submesh> parts_;
  size_t maxVertices_ = 0;
  std::vector<csVector3> vertices_;
  std::vector<csVector2> texels_;
  std::vector<csColor> colors_;
};

}  // namespace

bool ApplyDrawOptions(iMeshObject* mesh, int options) {
  csRef<iRigweaveState> state =
      csRef<iRigweaveState>::Adopt(scfQueryInterface<iRigweaveState>(mesh));
  if (!state) return false;
  state->SetBoundsFollow((options & kDrawBounds) != 0);
  state->SetLighting((options & kDrawLit) != 0);
  state->SetAmbientLight({0.2f, 0.2f, 0.2f});
  return true;
}

DrawTimes MeasureDraw(Session& session, rwengine::Stage& stage, rwengine::NullBackend& backend,
                      const char* config, int frames, int options) {
  DrawTimes result;
  csRef<iMeshObject> mesh = NewWalker(session, stage, config);
  if (mesh && !ApplyDrawOptions(mesh.get(), options)) mesh = nullptr;
  csRef<rwengine::Light> light = csRef<rwengine::Light>::Adopt(
      new rwengine::Light(csVector3(2, 3, -4), csColor{1, 0.9f, 0.8f}, CS_ATTN_LINEAR, 20));
  iLight* lights[] = {light.get()};
  Walker walker, parts;
  const int records = RecordsPerFrame(session, config);
  if (!mesh || !walker.Load(session, config) || !parts.Load(session, config) || records <= 0) {
    session.Fail(std::string("cannot load ") + config);
    return result;
  }
  HostReplay host;
  if (!host.Prepare(stage, *walker.direct.Model())) {
    session.Fail(std::string("cannot replay the engine calls of ") + config);
    return result;
  }
  auto movable = csRef<rwengine::Movable>::Adopt(new rwengine::Movable);
  iRenderView* view = stage.GetView();
  rwengine::Graphics3D* graphics = stage.GetGraphics();

  const int warmup = std::max(5, frames / 20);
  std::vector<double> draw, drawTest, direct, hostTimes, drawWall, directWall, clockReads;
  std::vector<double> updates, facesTimes;
  const long drawsBefore = backend.draws;
  const int rejectedBefore = graphics->DrawsRejected();
  int faces = 0;
  // The replay draws as many records as the module.
  for (int frame = 0; frame < warmup + frames; frame++) {
    session.ticks += kTicksPerFrame;
    graphics->BeginDraw();
    // Far below a microsecond: only the wall clock reads fast enough.
    const Clock::time_point testStart = Clock::now();
    const bool visible = mesh->DrawTest(view, movable.get());
    const double testUs =
        std::chrono::duration<double, std::micro>(Clock::now() - testStart).count();
    const Stopwatch drawWatch;
    if ((options & kDrawLit) != 0) mesh->UpdateLighting(lights, 1, movable.get());
    bool drawn = visible && mesh->Draw(view, movable.get(), CS_ZBUF_USE);
    if ((options & kDrawBounds) != 0) {
      csBox3 box;
      mesh->GetObjectBoundingBox(box, 0);
      drawn = drawn && !box.Empty();
    }
    const double drawUs = drawWatch.CpuUs(), drawWallUs = drawWatch.WallUs();
    graphics->FinishDraw();
    if (!drawn) {
      session.Fail(std::string("Draw of ") + config + " returned false");
      return result;
    }

    const Stopwatch directWatch;
    faces += walker.direct.Frame(kFrameSeconds, walker.buffers);
    const double directUs = directWatch.CpuUs(), directWallUs = directWatch.WallUs();

    graphics->BeginDraw();
    const Stopwatch hostWatch;
    const bool replayed = host.Frame();
    const double hostUs = hostWatch.CpuUs();
    graphics->FinishDraw();
    if (!replayed) {
      session.Fail(std::string("the renderer refused the replayed records of ") + config);
      return result;
    }
    const Stopwatch updateWatch;
    parts.direct.Update(kFrameSeconds);
    const double updateUs = updateWatch.CpuUs();
    const Stopwatch facesWatch;
    parts.direct.FetchFaces(parts.buffers);
    const double facesUs = facesWatch.CpuUs();
    const double emptyUs = Stopwatch().CpuUs();
    if (frame < warmup) continue;
    updates.push_back(updateUs);
    facesTimes.push_back(facesUs);
    clockReads.push_back(emptyUs);
    hostTimes.push_back(hostUs);
    draw.push_back(drawUs);
    drawTest.push_back(testUs);
    direct.push_back(directUs);
    drawWall.push_back(drawWallUs);
    directWall.push_back(directWallUs);
  }
  // Timing a Draw that drew nothing would flatter the module.
  if (backend.draws - drawsBefore != 2L * records * (warmup + frames) ||
      graphics->DrawsRejected() != rejectedBefore || faces <= 0)
    session.Fail(std::string("the renderer did not get every record of ") + config);
  // What reading the CPU clock adds to every interval, measured among them.
  const double reading = Median(clockReads);
  result.clockReadUs = reading;
  result.drawUs = Median(draw) - reading;
  result.drawTestUs = Median(drawTest);
  result.directUs = Median(direct) - reading;
  result.hostUs = Median(hostTimes) - reading;
  result.drawWallUs = Median(drawWall);
  result.directWallUs = Median(directWall);
  result.updateUs = Median(updates) - reading;
  result.facesUs = Median(facesTimes) - reading;
  CalRenderer* renderer = walker.direct.Model()->getRenderer();
  if (renderer->beginRendering()) {
    for (int m = 0; m < renderer->getMeshCount(); m++)
      for (int sub = 0; sub < renderer->getSubmeshCount(m); sub++)
        if (renderer->selectMeshSubmesh(m, sub)) result.vertices += renderer->getVertexCount();
    renderer->endRendering();
  }
  return result;
}

namespace {

// The options' cost: three rounds of plain, following box and lit Draws,
// alternating, each figure the median of its three.
void AddOptionFigures(Session& session, rwengine::Stage& stage, BenchBackend& backend,
                      const std::string& model, int frames) {
  const std::string tag = TagOf(model);
  std::vector<double> plain, bounds, lit, direct;
  for (int round = 0; round < 3; round++) {
    const DrawTimes p = MeasureDraw(session, stage, backend, model.c_str(), frames, kDrawPlain);
    const DrawTimes b = MeasureDraw(session, stage, backend, model.c_str(), frames, kDrawBounds);
    const DrawTimes l = MeasureDraw(session, stage, backend, model.c_str(), frames, kDrawLit);
    plain.push_back(p.drawUs);
    bounds.push_back(b.drawUs);
    lit.push_back(l.drawUs);
    direct.push_back(l.directUs);
  }
  const std::string rounds = " (three alternating rounds: plain " + Fixed(plain[0], 1) + ", " +
                             Fixed(plain[1], 1) + ", " + Fixed(plain[2], 1) + " us; box " +
                             Fixed(bounds[0], 1) + ", " + Fixed(bounds[1], 1) + ", " +
                             Fixed(bounds[2], 1) + " us; lit " + Fixed(lit[0], 1) + ", " +
                             Fixed(lit[1], 1) + ", " + Fixed(lit[2], 1) + " us)";
  const double litRatio = Median(lit) / Median(direct);
  session.Add("draw_ratio_lit_" + tag, litRatio, 3, "<= 0.50", litRatio <= 0.50,
              "median Draw with normals and lighting on (one light, UpdateLighting each frame) " +
                  Fixed(Median(lit), 1) + " us vs the direct Cal3D loop (no normals) " +
                  Fixed(Median(direct), 1) + " us" + rounds);
  session.Add("bounds_cost_" + tag, Median(bounds) / Median(plain) - 1, 3, "", true,
              "Draw with the following box on (and asked once a frame) over Draw without, less "
              "1" +
                  rounds);
}

}  // namespace

void AddDrawFigures(Session& session, rwengine::Stage& stage, BenchBackend& backend,
                    const std::string& model, int frames, const DrawTimes& t) {
  const char* config = model.c_str();
  const std::string tag = TagOf(model);
  const double ratio = t.drawUs / t.directUs;
  session.Add("draw_ratio_" + tag, ratio, 3, "<= 0.50", ratio <= 0.50,
              "median Draw " + Fixed(t.drawUs, 1) + " us (DrawTest not included) vs direct Cal3D " +
                  Fixed(t.directUs, 1) + " us, " + std::to_string(frames) +
                  " walking frames interleaved, thread CPU time less " + Fixed(t.clockReadUs, 2) +
                  " us for reading that clock");
  session.Add("draw_ratio_" + tag + "_wall", t.drawWallUs / t.directWallUs, 3, "", true,
              "the same in wall-clock time: " + Fixed(t.drawWallUs, 1) + " vs " +
                  Fixed(t.directWallUs, 1) + " us");
  {
    // The null backend reads no geometry, so the renderer does not check
    // its indices; this is what a renderer that does check would add.
    backend.checked = true;
    const DrawTimes u = MeasureDraw(session, stage, backend, config, frames);
    backend.checked = false;
    session.Add("draw_ratio_" + tag + "_checked", u.drawUs / u.directUs, 3, "", true,
                "the same with the renderer checking every index against the locked vertices: " +
                    Fixed(u.drawUs, 1) + " vs " + Fixed(u.directUs, 1) + " us");
  }
  session.Add("draw_ratio_" + tag + "_module", (t.drawUs - t.hostUs) / t.directUs, 3, "", true,
              "(Draw - host) / direct: the module's own share, the host's calls (lock, fog, "
              "draw, twice per sub-mesh, unlock) replayed alone with the same counts and "
              "timed interleaved: " +
                  Fixed(t.hostUs, 1) + " us");
  AddOptionFigures(session, stage, backend, model, frames);
  session.Add("draw_us_" + tag, t.drawUs, 1, "", true, "median Draw through rigweave.so");
  session.Add("drawtest_us_" + tag, t.drawTestUs, 2, "", true,
              "median DrawTest, timed apart, wall clock");
  session.Add("direct_us_" + tag, t.directUs, 1, "", true,
              "median update + vertices, texels, faces of every sub-mesh");
  session.Add("cal3d_share_" + tag, (t.updateUs + t.facesUs) / t.drawUs, 3, "", true,
              "the Cal3D calls left in Draw, timed alone on a Cal3D character of their own "
              "(update " +
                  Fixed(t.updateUs, 1) + " us, faces of every sub-mesh " + Fixed(t.facesUs, 1) +
                  " us), over the median Draw");
  session.Add("draw_mvps_" + tag, t.vertices / t.drawUs, 1, "", true,
              "million vertices a second through the whole Draw (" + std::to_string(t.vertices) +
                  " a frame), one core; direct Cal3D: " + Fixed(t.vertices / t.directUs, 1));
}

}  // namespace rwbench
