// Measures the module against the same Cal3D work done directly: frame
// time, load time, memory, crowd size at 60 Hz and heap allocations per
// frame. Prints one "figure NAME VALUE" line per figure, then a table.
//
//   rigweave-bench [--quick] [--root DIR] [--module PATH]
//                  [--only draw|load|memory|crowd|alloc|skin] [--frames N] [MODEL.cfg...]
//
// Runs from DIR, whose models/ folder holds the characters (by default the
// build folder and its generated sample and large characters). The frame
// figures and vertex_mismatches are given for every character named; load,
// memory, crowd and allocations for the first.
// Exits non-zero when a measurement could not be made (a load failed, the
// renderer rejected a record, a child process died), never for a missed
// target.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "bench/alloc_counter.h"
#include "bench/direct.h"
#include "bench/measure.h"
#include "engine/backend_null.h"
#include "engine/movable.h"
#include "engine/stage.h"
#include "host/clock.h"
#include "host/engine_loading.h"
#include "ical3dstate.h"
#include "formats/config.h"
#include "model/cal3d_skinning.h"
#include "render/engine_space.h"
#include "render/limits.h"

namespace rwbench {
namespace {

// The folder that holds models/ (--root), and models/ in it, where the module
// and the direct Cal3D side read the same files.
std::string root;
std::string modelFolder = "models/";
// The first character named; the sample unless the command names others.
const char* kSample = "hero.cfg";
constexpr const char kWalk[] = "walk";
// One frame at 60 Hz, and the whole milliseconds the engine's clock moves
// between frames.
constexpr double kFrameBudgetUs = 16700.0;
constexpr csTicks kTicksPerFrame = 16;
constexpr float kFrameSeconds = 0.016f;

struct Options {
  bool quick = false;
  std::string dir = RIGWEAVE_BUILD_DIR;
  std::string module = RIGWEAVE_MODULE_PATH;
  std::string only;
  int frames = 0;
  std::vector<std::string> models;
};

// The cycle a character walks: "walk", or its first animation.
std::string CycleName(const CharacterFiles& files) {
  if (files.AnimationId(kWalk) >= 0 || files.animations.empty()) return kWalk;
  return std::string(rigweave::AnimationNameFromFile(files.animations[0]));
}

// The figures' name for a character: its configuration's name up to the last '.'.
std::string TagOf(const std::string& config) {
  return std::string(rigweave::AnimationNameFromFile(config));
}

// The null backend, which can also hand each draw's vertices to a probe; the
// renderer gives them only to backends that read geometry (`checked`).
class BenchBackend : public rwengine::NullBackend {
 public:
  void DrawTriangleMesh(const G3DTriangleMesh& record,
                        const rwengine::DrawGeometry& geometry) override {
    NullBackend::DrawTriangleMesh(record, geometry);
    if (probe) probe(geometry);
  }
  std::function<void(const rwengine::DrawGeometry&)> probe;
};

// The clock the module reads: moved by hand, one frame at a time.
csTicks ticks = 1000;
csTicks ReadTicks(void*) {
  return ticks;
}

// The order figures are listed in: the frame, the load, memory, the crowd,
// allocations.
enum Group { kDraw, kSkinning, kLoad, kMemory, kCrowd, kAllocations };

struct Figure {
  Group group = kDraw;
  std::string name;
  double value = 0;
  int decimals = 3;
  std::string target;  // empty: no target, shown for information
  bool met = true;
  std::string how;
};

std::vector<Figure> figures;
bool failed = false;

void Fail(const std::string& what) {
  std::cerr << "rigweave-bench: " << what << "\n";
  failed = true;
}

Group currentGroup = kDraw;

void Add(const std::string& name, double value, int decimals, const std::string& target, bool met,
         const std::string& how) {
  if (!std::isfinite(value)) Fail("figure " + name + " is not a number");
  figures.push_back({currentGroup, name, value, decimals, target, met, how});
}

std::string Fixed(double value, int decimals) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(decimals) << value;
  return text.str();
}

// Cal3D's vertices as the module turns them into engine space, in place.
void ToEngineSpace(csVector3* vertices, int count, float factor) {
  rigweave::EngineSpaceJob job;
  job.input = {vertices, static_cast<size_t>(count)};
  job.output = {vertices, static_cast<size_t>(count)};
  job.scale = factor;
  if (!job.Run()) Fail("vertices the module could not turn");
}

// ---------------------------------------------------------------- module side

csRef<iCal3DState> StateOf(iBase* mesh) {
  return csRef<iCal3DState>::Adopt(scfQueryInterface<iCal3DState>(mesh));
}

// A mesh object of the loaded module with `config` loaded and walking, or
// null. What the module prints goes to /dev/null.
csRef<iMeshObject> NewWalker(rwengine::Stage& stage, const char* config) {
  CharacterFiles files;
  if (!ReadCharacterFiles(modelFolder, config, files)) return nullptr;
  csRef<iMeshObject> mesh = stage.NewMeshObject();
  if (!mesh) return nullptr;
  csRef<iCal3DState> state = StateOf(mesh.get());
  if (!state) return nullptr;
  bool loaded;
  {
    SilencedStdout quiet;
    loaded = state->LoadModel(config, stage.GetLoader(), stage.GetEngine());
  }
  if (!loaded || !state->SetCycle(CycleName(files).c_str(), 0.3f, 0.3f, 1.0f)) return nullptr;
  return mesh;
}

// Draw records one module frame hands the renderer: two per sub-mesh.
int RecordsPerFrame(const char* config) {
  CharacterFiles files;
  DirectCharacter direct;
  if (!ReadCharacterFiles(modelFolder, config, files) || !direct.Load(modelFolder, files))
    return -1;
  CalRenderer* renderer = direct.Model()->getRenderer();
  if (!renderer->beginRendering()) return -1;
  int submeshes = 0;
  for (int mesh = 0; mesh < renderer->getMeshCount(); mesh++)
    submeshes += renderer->getSubmeshCount(mesh);
  renderer->endRendering();
  return 2 * submeshes;
}

struct Walker {
  CharacterFiles files;
  DirectCharacter direct;
  FrameBuffers buffers;
  bool Load(const char* config) {
    if (!ReadCharacterFiles(modelFolder, config, files) || !direct.Load(modelFolder, files))
      return false;
    buffers.FitTo(*direct.Model());
    return direct.Walk(files.AnimationId(CycleName(files)), 0.3f, 0.3f, 1.0f);
  }
};

// ------------------------------------------------------------------ draw ratio

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

struct DrawTimes {
  // Medians of thread CPU time, and of wall time for reference.
  double drawUs = 0, drawTestUs = 0, directUs = 0, hostUs = 0, clockReadUs = 0;
  // The Cal3D calls a Draw still makes, timed alone on a Cal3D character of
  // its own: the update, and the faces of every sub-mesh.
  double updateUs = 0, facesUs = 0;
  int vertices = 0;  // drawn a frame
  double drawWallUs = 0, directWallUs = 0;
};

DrawTimes MeasureDraw(rwengine::Stage& stage, rwengine::NullBackend& backend, const char* config,
                      int frames) {
  DrawTimes result;
  csRef<iMeshObject> mesh = NewWalker(stage, config);
  Walker walker, parts;
  const int records = RecordsPerFrame(config);
  if (!mesh || !walker.Load(config) || !parts.Load(config) || records <= 0) {
    Fail(std::string("cannot load ") + config);
    return result;
  }
  HostReplay host;
  if (!host.Prepare(stage, *walker.direct.Model())) {
    Fail(std::string("cannot replay the engine calls of ") + config);
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
    ticks += kTicksPerFrame;
    graphics->BeginDraw();
    // Far below a microsecond: only the wall clock reads fast enough.
    const Clock::time_point testStart = Clock::now();
    const bool visible = mesh->DrawTest(view, movable.get());
    const double testUs =
        std::chrono::duration<double, std::micro>(Clock::now() - testStart).count();
    const Stopwatch drawWatch;
    const bool drawn = visible && mesh->Draw(view, movable.get(), CS_ZBUF_USE);
    const double drawUs = drawWatch.CpuUs(), drawWallUs = drawWatch.WallUs();
    graphics->FinishDraw();
    if (!drawn) {
      Fail(std::string("Draw of ") + config + " returned false");
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
      Fail(std::string("the renderer refused the replayed records of ") + config);
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
    Fail(std::string("the renderer did not get every record of ") + config);
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

// ---------------------------------------------------------- vertex mismatches

// Coordinates the module drew that differ in any bit from Cal3D's renderer
// followed by the module's turn, on a Cal3D character of the same files
// driven by the same calls: `frames` walking frames with an action started
// every 300, at each level of detail. Adds to `compared` the coordinates
// compared; -1 when the two could not be driven alike.
long CountMismatches(rwengine::Stage& stage, BenchBackend& backend, const char* config, int frames,
                     long& compared) {
  long mismatches = 0;
  for (float lod : {1.0f, 0.5f}) {
    CharacterFiles files;
    DirectCharacter direct;
    csRef<iMeshObject> mesh = NewWalker(stage, config);
    if (!mesh || !ReadCharacterFiles(modelFolder, config, files) ||
        !direct.Load(modelFolder, files))
      return -1;
    const std::string cycle = CycleName(files);
    const int cycleId = files.AnimationId(cycle);
    const int actionId = files.AnimationId("wave") >= 0
                             ? files.AnimationId("wave")
                             : static_cast<int>(files.animations.size()) - 1;
    const std::string action(rigweave::AnimationNameFromFile(files.animations[actionId]));
    direct.Model()->getSkeleton()->calculateState();  // as the module's load does
    if (!direct.Walk(cycleId, 0.3f, 0.3f, 1.0f)) return -1;
    csRef<iCal3DState> state = StateOf(mesh.get());
    state->SetLodLevel(lod);
    direct.Model()->setLodLevel(lod);
    auto movable = csRef<rwengine::Movable>::Adopt(new rwengine::Movable);
    const float factor = static_cast<float>(files.scale * 0.02);
    const float seconds = static_cast<float>(static_cast<double>(kTicksPerFrame) / 1000.0);

    std::vector<std::vector<csVector3>> drawn;
    backend.checked = true;  // the renderer hands geometry only to backends that read it
    backend.probe = [&](const rwengine::DrawGeometry& geometry) {
      drawn.emplace_back(geometry.vertices, geometry.vertices + geometry.count);
    };
    std::vector<csVector3> expected(rigweave::kMaxSubmeshVertices);
    for (int frame = 0; frame < frames && mismatches >= 0; frame++) {
      if (frame % 300 == 100) {
        state->ExecuteAction(action.c_str(), 0.3f, 0.3f);
        direct.Model()->getMixer()->executeAction(actionId, 0.3f, 0.3f);
      }
      drawn.clear();
      ticks += kTicksPerFrame;
      stage.DrawFrame({{mesh.get(), movable.get()}});
      direct.Update(seconds);
      CalRenderer* renderer = direct.Model()->getRenderer();
      if (!renderer->beginRendering()) return -1;
      size_t draw = 0;
      for (int m = 0; m < renderer->getMeshCount(); m++) {
        for (int sub = 0; sub < renderer->getSubmeshCount(m); sub++) {
          if (!renderer->selectMeshSubmesh(m, sub)) continue;
          const int count = renderer->getVertices(&expected[0].x);
          ToEngineSpace(expected.data(), count, factor);
          // Each sub-mesh is drawn twice, from the same vertices.
          for (int twice = 0; twice < 2; twice++, draw++) {
            if (draw >= drawn.size() || drawn[draw].size() != static_cast<size_t>(count)) {
              mismatches = -1;
              break;
            }
            compared += 3L * count;
            for (int v = 0; v < count; v++)
              for (int c = 0; c < 3; c++)
                mismatches +=
                    std::memcmp(&drawn[draw][v].x + c, &expected[v].x + c, sizeof(float)) != 0;
          }
        }
      }
      renderer->endRendering();
      if (draw != drawn.size()) mismatches = -1;
    }
    backend.probe = nullptr;
    backend.checked = false;
    if (mismatches < 0) return -1;
  }
  return mismatches;
}

// ------------------------------------------------------------ skinning alone

// Vertices a second one core skins for `config` in a walking pose: through
// the unit on each instruction set this processor has, and through Cal3D's
// renderer followed by the module's turn (the path for what the unit does
// not reproduce). Medians of batches of `frames` frames.
void MeasureSkinning(const char* config, int frames) {
  Walker cal3d, unit;
  if (!cal3d.Load(config) || !unit.Load(config)) return Fail(std::string("cannot load ") + config);
  for (int i = 0; i < 20; i++) {
    cal3d.direct.Update(kFrameSeconds);
    unit.direct.Update(kFrameSeconds);
  }
  rigweave::Cal3DSkinning skinning;
  CalModel& model = *unit.direct.Model();
  if (!skinning.Prepare(model)) return Fail("cannot lay out " + std::string(config));
  std::vector<float> output(3 * static_cast<size_t>(rigweave::kMaxSubmeshVertices));
  const float factor = static_cast<float>(unit.files.scale * 0.02);
  const rigweave::AxisTurn& turn = rigweave::GetAxisTurn();
  const std::string tag = TagOf(config);
  auto rate = [&](const std::function<long()>& frame) {
    std::vector<double> rates;
    for (int batch = 0; batch < 7; batch++) {
      long vertices = 0;
      const Stopwatch watch;
      for (int f = 0; f < frames; f++) vertices += frame();
      rates.push_back(static_cast<double>(vertices) / watch.CpuUs());
    }
    return Median(rates);  // vertices per microsecond: millions per second
  };
  for (rigweave::SkinningIsa isa :
       {rigweave::SkinningIsa::Scalar, rigweave::SkinningIsa::Sse2, rigweave::SkinningIsa::Avx2}) {
    const std::string name = "skin_mvps_" + tag + "_" + rigweave::SkinningIsaName(isa);
    if (!skinning.SetIsa(isa)) {
      Add(name, 0, 1, "", true, "not measured: this processor lacks it");
      continue;
    }
    bool drawnByCal3D = false;
    const double mvps = rate([&] {
      long vertices = 0;
      skinning.BeginFrame(model);
      int index = 0;
      for (CalMesh* mesh : model.getVectorMesh())
        for (int sub = 0; sub < mesh->getSubmeshCount(); sub++, index++) {
          const int n =
              skinning.Skin(index, *mesh->getSubmesh(sub), output.data(),
                            rigweave::kMaxSubmeshVertices, factor, turn.sine, turn.cosine);
          drawnByCal3D = drawnByCal3D || n < 0;
          vertices += n > 0 ? n : 0;
        }
      return vertices;
    });
    Add(name, mvps, 1, "", true,
        std::string("million vertices a second on one core, the unit on ") +
            rigweave::SkinningIsaName(isa) + " (bone palette included)" +
            (drawnByCal3D ? "; some sub-meshes left to Cal3D, not counted" : ""));
  }
  CalRenderer* renderer = cal3d.direct.Model()->getRenderer();
  auto* vertices = reinterpret_cast<csVector3*>(output.data());
  const double cal3dRate = rate([&] {
    long count = 0;
    if (!renderer->beginRendering()) return count;
    for (int m = 0; m < renderer->getMeshCount(); m++)
      for (int sub = 0; sub < renderer->getSubmeshCount(m); sub++) {
        if (!renderer->selectMeshSubmesh(m, sub)) continue;
        const int n = renderer->getVertices(output.data());
        ToEngineSpace(vertices, n, factor);
        count += n;
      }
    renderer->endRendering();
    return count;
  });
  Add("skin_mvps_" + tag + "_cal3d", cal3dRate, 1, "", true,
      "the same through Cal3D's renderer and the module's turn, the path for sub-meshes the unit "
      "does not reproduce");
}

// ------------------------------------------------------------------ load ratio

void MeasureLoad(rwengine::Stage& stage, int repetitions) {
  CharacterFiles files;
  if (!ReadCharacterFiles(modelFolder, kSample, files)) return Fail("cannot read the sample");

  // Once, into a file, to count what the module prints per load.
  int linesPerLoad = -1;
  if (std::FILE* capture = std::tmpfile()) {
    std::cout.flush();
    std::fflush(stdout);
    const int saved = dup(1);
    dup2(fileno(capture), 1);
    csRef<iMeshObject> mesh = stage.NewMeshObject();
    const bool loaded =
        mesh && StateOf(mesh.get())->LoadModel(kSample, stage.GetLoader(), stage.GetEngine());
    std::cout.flush();
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    if (!loaded) return Fail("cannot load the sample");
    std::rewind(capture);
    linesPerLoad = 0;
    for (int c; (c = std::fgetc(capture)) != EOF;) linesPerLoad += c == '\n';
    std::fclose(capture);
  }

  std::vector<double> module, direct;
  for (int i = 0; i < repetitions + 2; i++) {
    double moduleUs, directUs;
    {
      csRef<iMeshObject> mesh = stage.NewMeshObject();
      csRef<iCal3DState> state = StateOf(mesh.get());
      SilencedStdout quiet;
      const Stopwatch watch;
      const bool loaded = state->LoadModel(kSample, stage.GetLoader(), stage.GetEngine());
      moduleUs = watch.CpuUs();
      if (!loaded) return Fail("LoadModel of the sample failed");
    }
    {
      DirectCharacter character;
      std::vector<std::vector<uint8_t>> textures;
      const Stopwatch watch;
      const bool loaded =
          character.Load(modelFolder, files) && character.ReadTextures(modelFolder, textures);
      directUs = watch.CpuUs();
      if (!loaded) return Fail("direct load of the sample failed");
    }
    // The first two warm the file cache and the allocator.
    if (i < 2) continue;
    module.push_back(moduleUs);
    direct.push_back(directUs);
  }
  const double moduleUs = Median(module), directUs = Median(direct);
  const double ratio = moduleUs / directUs;
  Add("load_ratio", ratio, 3, "<= 1.15", ratio <= 1.15,
      "median LoadModel " + Fixed(moduleUs, 0) + " us vs direct Cal3D load + texture read " +
          Fixed(directUs, 0) + " us, " + std::to_string(repetitions) +
          " interleaved, thread CPU time; the module's " + std::to_string(linesPerLoad) +
          " printed lines per load are included, written to /dev/null");
  Add("load_module_us", moduleUs, 0, "", true, "median LoadModel (making the object not timed)");
  Add("load_direct_us", directUs, 0, "", true,
      "median Cal3D core + instance + attach + material set + texture files read");
  Add("load_printed_lines", linesPerLoad, 0, "", true, "lines the module prints per load");
}

// ---------------------------------------------------------------------- memory

// Resident KiB by both measures, for a before/after pair.
struct Resident {
  long vm = 0, exact = 0;
  static Resident Now() { return {ResidentKiB(), ExactResidentKiB()}; }
};

// KiB per object between two readings: VmRSS, then the exact figure.
std::vector<double> PerObject(const Resident& before, const Resident& after, int count) {
  return {static_cast<double>(after.vm - before.vm) / count,
          static_cast<double>(after.exact - before.exact) / count};
}

// Each figure comes from a child forked before the parent made its Stage.
void MeasureMemory(const Options& options, int count) {
  // Empty mesh objects.
  std::vector<double> empty = InChild([&] {
    rwengine::NullBackend backend;
    auto* stage = new rwengine::Stage(&backend, 640, 480, root);
    if (!stage->LoadModule(options.module)) return std::vector<double>{};
    std::vector<csRef<iMeshObject>> objects;
    objects.reserve(count + 1);
    objects.push_back(stage->NewMeshObject());  // the first pays for the type and factory
    const Resident before = Resident::Now();
    for (int i = 0; i < count; i++) objects.push_back(stage->NewMeshObject());
    const Resident after = Resident::Now();
    for (auto& object : objects)
      if (!object) return std::vector<double>{};
    return PerObject(before, after, count);
  });

  // Loaded characters through the module, then after one frame each.
  std::vector<double> loaded = InChild([&] {
    rwengine::NullBackend backend;
    auto* stage = new rwengine::Stage(&backend, 640, 480, root);
    if (!stage->LoadModule(options.module)) return std::vector<double>{};
    std::vector<csRef<iMeshObject>> objects;
    objects.reserve(count + 1);
    objects.push_back(NewWalker(*stage, kSample));
    rwengine::TextureList* textures = stage->GetEngine()->GetTextures();
    const int texturesBefore = textures->GetCount();
    const Resident before = Resident::Now();
    for (int i = 0; i < count; i++) objects.push_back(NewWalker(*stage, kSample));
    const Resident after = Resident::Now();
    for (auto& object : objects)
      if (!object) return std::vector<double>{};
    // Pixels of the images the engine's texture list now keeps.
    double imageKiB = 0;
    for (int i = texturesBefore; i < textures->GetCount(); i++) {
      iImage* image = textures->Get(i)->GetImage();
      imageKiB += static_cast<double>(image->GetWidth()) * image->GetHeight() * sizeof(csRGBpixel);
    }
    imageKiB /= 1024.0 * count;
    auto movable = csRef<rwengine::Movable>::Adopt(new rwengine::Movable);
    std::vector<std::pair<iMeshObject*, iMovable*>> scene;
    for (auto& object : objects) scene.emplace_back(object.get(), movable.get());
    ticks += kTicksPerFrame;
    stage->DrawFrame(scene);
    std::vector<double> result = PerObject(before, after, count);
    for (double drawn : PerObject(before, Resident::Now(), count)) result.push_back(drawn);
    result.push_back(imageKiB);
    return result;
  });

  // The same files as bare Cal3D core models and instances. Like the
  // module's scratch, one set of frame buffers serves them all.
  std::vector<double> bare = InChild([&] {
    CharacterFiles files;
    if (!ReadCharacterFiles(modelFolder, kSample, files)) return std::vector<double>{};
    std::vector<std::unique_ptr<DirectCharacter>> characters;
    characters.reserve(count + 1);
    auto next = [&] {
      characters.push_back(std::make_unique<DirectCharacter>());
      DirectCharacter& character = *characters.back();
      return character.Load(modelFolder, files) &&
             character.Walk(files.AnimationId(CycleName(files)), 0.3f, 0.3f, 1.0f);
    };
    if (!next()) return std::vector<double>{};
    FrameBuffers buffers;
    buffers.FitTo(*characters.back()->Model());
    const Resident before = Resident::Now();
    for (int i = 0; i < count; i++)
      if (!next()) return std::vector<double>{};
    const Resident after = Resident::Now();
    for (auto& character : characters) character->Frame(kFrameSeconds, buffers);
    std::vector<double> result = PerObject(before, after, count);
    for (double drawn : PerObject(before, Resident::Now(), count)) result.push_back(drawn);
    return result;
  });

  const std::string from = std::to_string(count) +
                           " more, each kind in a child process forked for it alone; exact: "
                           "smaps_rollup Rss";
  if (empty.size() != 2) {
    Fail("the empty-object child failed");
  } else {
    Add("empty_object_kib", empty[0], 1, "<= 256", empty[0] <= 256,
        "resident KiB per new mesh object, VmRSS before/after " + from + " " + Fixed(empty[1], 1) +
            " KiB");
  }
  if (loaded.size() != 5 || bare.size() != 4 || bare[0] <= 0 || bare[1] <= 0 || bare[2] <= 0 ||
      bare[3] <= 0) {
    Fail("a loaded-object child failed");
    return;
  }
  const double ratio = loaded[0] / bare[0];
  Add("loaded_object_ratio", ratio, 3, "<= 1.25", ratio <= 1.25,
      "VmRSS per LoadModel'ed sample " + Fixed(loaded[0], 0) +
          " KiB (with the textures the engine keeps) vs bare Cal3D core + instance " +
          Fixed(bare[0], 0) + " KiB, before/after " + from + " " + Fixed(loaded[1], 0) + " vs " +
          Fixed(bare[1], 0) + " KiB, ratio " + Fixed(loaded[1] / bare[1], 3));
  Add("loaded_object_ratio_own", (loaded[1] - loaded[4]) / bare[1], 3, "", true,
      "the exact ratio less the " + Fixed(loaded[4], 0) +
          " KiB per character of decoded texture pixels that the engine's texture list keeps "
          "(the module's own share)");
  Add("loaded_object_kib", loaded[0], 0, "", true, "VmRSS KiB per loaded sample character");
  Add("bare_object_kib", bare[0], 0, "", true, "VmRSS KiB per bare Cal3D character");
  Add("drawn_object_ratio", loaded[2] / bare[2], 3, "", true,
      "the same after one frame each: module " + Fixed(loaded[2], 0) + " KiB vs direct " +
          Fixed(bare[2], 0) + " KiB (exact: " + Fixed(loaded[3], 0) + " vs " + Fixed(bare[3], 0) +
          "); the module now has its fog arrays and vertex buffer");
}

// ----------------------------------------------------------------------- crowd

// Finds the largest count whose median frame fits the budget: steps out
// from an estimate by an eighth at a time, then bisects. Driven from outside
// so that two searches can run in lockstep, their frames interleaved.
class CrowdSearch {
 public:
  CrowdSearch(int estimate, int cap) : cap_(cap), candidate_(std::clamp(estimate, 1, cap)) {}
  bool Done() const { return done_; }
  int Candidate() const { return candidate_; }
  int Result() const { return fits_; }

  void Report(bool fits) {
    (fits ? fits_ : tooMany_) = candidate_;
    if (phase_ == Phase::First) phase_ = fits ? Phase::Up : Phase::Down;
    if (phase_ == Phase::Up && !fits) phase_ = Phase::Bisect;
    if (phase_ == Phase::Down && fits) phase_ = Phase::Bisect;
    if (phase_ == Phase::Up) {
      if (fits_ >= cap_) {
        done_ = true;
        return;
      }
      candidate_ = std::min(cap_, fits_ + std::max(1, fits_ / 8));
    } else if (phase_ == Phase::Down) {
      if (tooMany_ <= 1) {
        done_ = true;
        return;
      }
      candidate_ = std::max(1, tooMany_ - std::max(1, tooMany_ / 8));
    } else {
      if (tooMany_ - fits_ <= 1) {
        done_ = true;
        return;
      }
      candidate_ = fits_ + (tooMany_ - fits_) / 2;
    }
  }

 private:
  enum class Phase { First, Up, Down, Bisect };
  Phase phase_ = Phase::First;
  int cap_;
  int candidate_;
  int fits_ = 0;
  int tooMany_ = 0;
  bool done_ = false;
};

// `suffix` names a variant (the renderer's index check off); without one
// the figures carry their targets.
void MeasureCrowd(rwengine::Stage& stage, rwengine::NullBackend& backend, double moduleUsEach,
                  double directUsEach, int framesPerProbe, const std::string& suffix) {
  const int cap = 1000;
  const int warmup = 2;
  auto movable = csRef<rwengine::Movable>::Adopt(new rwengine::Movable);
  const int records = RecordsPerFrame(kSample);
  bool broken = records <= 0;

  std::vector<csRef<iMeshObject>> meshes;
  std::vector<std::pair<iMeshObject*, iMovable*>> scene;
  auto moduleReady = [&](int n) {
    while (static_cast<int>(meshes.size()) < n && !broken) {
      meshes.push_back(NewWalker(stage, kSample));
      broken = !meshes.back();
      scene.emplace_back(meshes.back().get(), movable.get());
    }
  };
  auto moduleFrame = [&](int n) {
    const std::vector<std::pair<iMeshObject*, iMovable*>> drawn(scene.begin(), scene.begin() + n);
    ticks += kTicksPerFrame;
    const long drawsBefore = backend.draws;
    const Stopwatch watch;
    stage.DrawFrame(drawn);
    const double us = watch.CpuUs();
    if (backend.draws - drawsBefore != static_cast<long>(records) * n) broken = true;
    return us;
  };

  // One set of buffers for all, as the module's scratch is shared.
  std::vector<std::unique_ptr<DirectCharacter>> characters;
  CharacterFiles files;
  broken = broken || !ReadCharacterFiles(modelFolder, kSample, files);
  FrameBuffers shared;
  auto directReady = [&](int n) {
    while (static_cast<int>(characters.size()) < n && !broken) {
      characters.push_back(std::make_unique<DirectCharacter>());
      DirectCharacter& character = *characters.back();
      broken = !character.Load(modelFolder, files) ||
               !character.Walk(files.AnimationId(CycleName(files)), 0.3f, 0.3f, 1.0f);
      if (!broken) shared.FitTo(*character.Model());
    }
  };
  auto directFrame = [&](int n) {
    const Stopwatch watch;
    for (int i = 0; i < n; i++) characters[i]->Frame(kFrameSeconds, shared);
    return watch.CpuUs();
  };

  CrowdSearch module(static_cast<int>(kFrameBudgetUs / moduleUsEach), cap);
  CrowdSearch direct(static_cast<int>(kFrameBudgetUs / directUsEach), cap);
  while (!broken && (!module.Done() || !direct.Done())) {
    const int m = module.Done() ? 0 : module.Candidate();
    const int d = direct.Done() ? 0 : direct.Candidate();
    moduleReady(m);
    directReady(d);
    if (broken) break;
    std::vector<double> moduleTimes, directTimes;
    for (int frame = 0; frame < warmup + framesPerProbe; frame++) {
      const double moduleUs = m > 0 ? moduleFrame(m) : 0.0;
      const double directUs = d > 0 ? directFrame(d) : 0.0;
      if (frame < warmup) continue;
      moduleTimes.push_back(moduleUs);
      directTimes.push_back(directUs);
    }
    if (m > 0) module.Report(Median(moduleTimes) <= kFrameBudgetUs);
    if (d > 0) direct.Report(Median(directTimes) <= kFrameBudgetUs);
  }
  if (broken || module.Result() <= 0 || direct.Result() <= 0)
    return Fail("the crowd could not be drawn");
  const double ratio = static_cast<double>(module.Result()) / direct.Result();
  const std::string how = "walking samples whose median frame takes <= 16.7 ms of one core (" +
                          std::to_string(framesPerProbe) +
                          " frames per probe; module and direct searched in lockstep, frames "
                          "interleaved)";
  if (!suffix.empty()) {
    Add("crowd_60hz" + suffix, module.Result(), 0, "", true,
        "the same with the renderer checking every index; direct " +
            std::to_string(direct.Result()) + ", ratio " + Fixed(ratio, 3));
    return;
  }
  Add("crowd_60hz", module.Result(), 0, ">= 2 x direct", ratio >= 2.0,
      how + ", DrawTest + Draw of each through the module (Stage::DrawFrame)");
  Add("crowd_60hz_direct", direct.Result(), 0, "", true, how + ", the direct Cal3D loop");
  Add("crowd_60hz_ratio", ratio, 3, ">= 2.0", ratio >= 2.0, "crowd_60hz / crowd_60hz_direct");
}

// ----------------------------------------------------------------- allocations

void MeasureAllocations(rwengine::Stage& stage, int frames) {
  csRef<iMeshObject> mesh = NewWalker(stage, kSample);
  Walker walker;
  if (!mesh || !walker.Load(kSample)) return Fail("cannot load the sample");
  auto movable = csRef<rwengine::Movable>::Adopt(new rwengine::Movable);
  iRenderView* view = stage.GetView();
  rwengine::Graphics3D* graphics = stage.GetGraphics();
  unsigned long long inDraw = 0, inDrawTest = 0, inDirect = 0;
  for (int frame = 0; frame <= frames; frame++) {
    ticks += kTicksPerFrame;
    graphics->BeginDraw();
    const unsigned long long start = rigweave_bench_allocations();
    mesh->DrawTest(view, movable.get());
    const unsigned long long afterTest = rigweave_bench_allocations();
    mesh->Draw(view, movable.get(), CS_ZBUF_USE);
    const unsigned long long afterDraw = rigweave_bench_allocations();
    graphics->FinishDraw();
    walker.direct.Frame(kFrameSeconds, walker.buffers);
    const unsigned long long afterDirect = rigweave_bench_allocations();
    if (frame == 0) continue;  // the first Draw makes the buffers that the others reuse
    inDrawTest += afterTest - start;
    inDraw += afterDraw - afterTest;
    inDirect += afterDirect - afterDraw;
  }
  // A counter that never moves would report zero for anything.
  const unsigned long long probe = rigweave_bench_allocations();
  delete new volatile int(0);
  if (rigweave_bench_allocations() == probe) return Fail("the allocation counter does not count");
  const std::string over = " over " + std::to_string(frames) + " frames after the first";
  Add("frame_allocations", static_cast<double>(inDraw), 0, "= 0", inDraw == 0,
      "heap allocations (malloc family, any library) inside Draw of the walking sample" + over);
  Add("frame_allocations_drawtest", static_cast<double>(inDrawTest), 0, "", true,
      "the same inside DrawTest");
  Add("frame_allocations_direct", static_cast<double>(inDirect), 0, "", true,
      "the same in the direct Cal3D loop");
}

// ----------------------------------------------------------------------- output

void Print(const Options& options) {
  std::stable_sort(figures.begin(), figures.end(),
                   [](const Figure& a, const Figure& b) { return a.group < b.group; });
  for (const Figure& f : figures)
    std::cout << "figure " << f.name << " " << Fixed(f.value, f.decimals) << "\n";
  std::cout << "\n"
            << (options.quick ? "quick run (few samples: the values are not meaningful)\n" : "")
            << "Renderer: NullBackend. Animation clock: moved 16 ms per frame by hand (dt 0.016 "
               "s).\nTimes: medians of this thread's CPU time (CLOCK_THREAD_CPUTIME_ID), which "
               "leaves out other processes.\n\n";
  size_t nameWidth = 6, valueWidth = 5;
  for (const Figure& f : figures) {
    nameWidth = std::max(nameWidth, f.name.size());
    valueWidth = std::max(valueWidth, Fixed(f.value, f.decimals).size());
  }
  std::cout << std::left << std::setw(static_cast<int>(nameWidth)) << "figure"
            << "  " << std::right << std::setw(static_cast<int>(valueWidth)) << "value"
            << "  " << std::left << std::setw(16) << "target"
            << "  "
            << "how measured\n";
  for (const Figure& f : figures) {
    const std::string target = f.target.empty() ? "-" : f.target + (f.met ? " met" : " MISSED");
    std::cout << std::left << std::setw(static_cast<int>(nameWidth)) << f.name << "  " << std::right
              << std::setw(static_cast<int>(valueWidth)) << Fixed(f.value, f.decimals) << "  "
              << std::left << std::setw(16) << target << "  " << f.how << "\n";
  }
  std::cout.flush();
}

bool Wants(const Options& options, const char* part) {
  return options.only.empty() || options.only == part;
}

int Run(const Options& options) {
  root = options.dir;
  modelFolder = root + "/models/";
  std::error_code error;
  if (!std::filesystem::is_directory(modelFolder, error)) {
    std::cerr << "rigweave-bench: no models/ folder in " << options.dir << "\n";
    return 2;
  }
  csSetTickSource(&ReadTicks, nullptr);
  const bool quick = options.quick;
  currentGroup = kMemory;
  if (Wants(options, "memory")) MeasureMemory(options, quick ? 10 : 100);

  BenchBackend backend;
  {
    rwengine::Stage stage(&backend, 640, 480, root);
    if (!stage.LoadModule(options.module)) {
      std::cerr << "rigweave-bench: " << stage.LastError() << "\n";
      return 2;
    }
    currentGroup = kLoad;
    if (Wants(options, "load")) MeasureLoad(stage, quick ? 5 : 200);
    currentGroup = kDraw;

    const int frames = options.frames > 0 ? options.frames : quick ? 60 : 3000;
    DrawTimes hero;
    if (Wants(options, "draw") || Wants(options, "crowd")) {
      for (const std::string& model : options.models) {
        const char* config = model.c_str();
        const bool first = model == options.models.front();
        if (!Wants(options, "draw") && !first) continue;
        const DrawTimes t = MeasureDraw(stage, backend, config, frames);
        if (first) hero = t;
        const std::string tag = TagOf(model);
        const double ratio = t.drawUs / t.directUs;
        if (!Wants(options, "draw")) continue;
        Add("draw_ratio_" + tag, ratio, 3, "<= 0.50", ratio <= 0.50,
            "median Draw " + Fixed(t.drawUs, 1) + " us (DrawTest not included) vs direct Cal3D " +
                Fixed(t.directUs, 1) + " us, " + std::to_string(frames) +
                " walking frames interleaved, thread CPU time less " + Fixed(t.clockReadUs, 2) +
                " us for reading that clock");
        Add("draw_ratio_" + tag + "_wall", t.drawWallUs / t.directWallUs, 3, "", true,
            "the same in wall-clock time: " + Fixed(t.drawWallUs, 1) + " vs " +
                Fixed(t.directWallUs, 1) + " us");
        {
          // The null backend reads no geometry, so the renderer does not check
          // its indices; this is what a renderer that does check would add.
          backend.checked = true;
          const DrawTimes u = MeasureDraw(stage, backend, config, frames);
          backend.checked = false;
          Add("draw_ratio_" + tag + "_checked", u.drawUs / u.directUs, 3, "", true,
              "the same with the renderer checking every index against the locked vertices: " +
                  Fixed(u.drawUs, 1) + " vs " + Fixed(u.directUs, 1) + " us");
        }
        Add("draw_ratio_" + tag + "_module", (t.drawUs - t.hostUs) / t.directUs, 3, "", true,
            "(Draw - host) / direct: the module's own share, the host's calls (lock, fog, "
            "draw, twice per sub-mesh, unlock) replayed alone with the same counts and "
            "timed interleaved: " +
                Fixed(t.hostUs, 1) + " us");
        Add("draw_us_" + tag, t.drawUs, 1, "", true, "median Draw through rigweave.so");
        Add("drawtest_us_" + tag, t.drawTestUs, 2, "", true,
            "median DrawTest, timed apart, wall clock");
        Add("direct_us_" + tag, t.directUs, 1, "", true,
            "median update + vertices, texels, faces of every sub-mesh");
        Add("cal3d_share_" + tag, (t.updateUs + t.facesUs) / t.drawUs, 3, "", true,
            "the Cal3D calls left in Draw, timed alone on a Cal3D character of their own "
            "(update " +
                Fixed(t.updateUs, 1) + " us, faces of every sub-mesh " + Fixed(t.facesUs, 1) +
                " us), over the median Draw");
        Add("draw_mvps_" + tag, t.vertices / t.drawUs, 1, "", true,
            "million vertices a second through the whole Draw (" + std::to_string(t.vertices) +
                " a frame), one core; direct Cal3D: " + Fixed(t.vertices / t.directUs, 1));
      }
    }
    if (Wants(options, "draw")) {
      long compared = 0, mismatches = 0;
      const int mismatchFrames = quick ? 60 : 1000;
      std::string names;
      for (const std::string& model : options.models) {
        const long count = CountMismatches(stage, backend, model.c_str(), mismatchFrames, compared);
        if (count < 0) Fail("the module and Cal3D could not be compared on " + model);
        mismatches += count < 0 ? 0 : count;
        names += (names.empty() ? "" : ", ") + model;
      }
      Add("vertex_mismatches", static_cast<double>(mismatches), 0, "= 0", mismatches == 0,
          "drawn coordinates differing in any bit from Cal3D's renderer + the module's turn, "
          "over " +
              std::to_string(mismatchFrames) +
              " walking frames with an action every 300, at levels of detail 1 and 0.5, on " +
              names + ": " + std::to_string(compared) + " compared");
    }
    currentGroup = kSkinning;
    if (Wants(options, "skin") || Wants(options, "draw"))
      for (const std::string& model : options.models)
        MeasureSkinning(model.c_str(), quick ? 5 : 200);
    currentGroup = kCrowd;
    if (Wants(options, "crowd") && hero.directUs > 0) {
      MeasureCrowd(stage, backend, hero.drawUs + hero.drawTestUs, hero.directUs, quick ? 3 : 15,
                   "");
      backend.checked = true;
      MeasureCrowd(stage, backend, hero.drawUs + hero.drawTestUs, hero.directUs, quick ? 3 : 15,
                   "_checked");
      backend.checked = false;
    }
    currentGroup = kAllocations;
    if (Wants(options, "alloc")) MeasureAllocations(stage, quick ? 100 : 1000);
  }
  csSetTickSource(nullptr, nullptr);
  if (options.only.empty()) {
    std::vector<std::string> required = {
        "vertex_mismatches", "load_ratio",        "empty_object_kib", "loaded_object_ratio",
        "crowd_60hz",        "crowd_60hz_direct", "crowd_60hz_ratio", "frame_allocations"};
    for (const std::string& model : options.models)
      required.push_back("draw_ratio_" + TagOf(model));
    for (const std::string& name : required) {
      const bool present = std::any_of(figures.begin(), figures.end(),
                                       [&](const Figure& f) { return f.name == name; });
      if (!present) Fail("no figure " + name);
    }
  }
  Print(options);
  return failed ? 1 : 0;
}

}  // namespace
}  // namespace rwbench

int main(int argc, char** argv) {
  rwbench::Options options;
  for (int i = 1; i < argc; i++) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--quick") {
      options.quick = true;
    } else if ((arg == "--root" || arg == "--dir") && hasValue) {
      options.dir = argv[++i];
    } else if (arg == "--module" && hasValue) {
      options.module = argv[++i];
    } else if (arg == "--only" && hasValue) {
      options.only = argv[++i];
    } else if (arg == "--frames" && hasValue) {
      options.frames = std::atoi(argv[++i]);
    } else if (!arg.empty() && arg[0] != '-') {
      options.models.push_back(arg);
    } else {
      std::cerr << "usage: rigweave-bench [--quick] [--root DIR] [--module PATH]"
                   " [--only draw|load|memory|crowd|alloc|skin] [--frames N] [MODEL.cfg...]\n";
      return 2;
    }
  }
  if (options.models.empty()) options.models = {"hero.cfg", "large.cfg"};
  rwbench::kSample = options.models.front().c_str();
  return rwbench::Run(options);
}
