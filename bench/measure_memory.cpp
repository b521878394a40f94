// Memory: empty and loaded mesh objects against bare Cal3D characters.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench/instruments.h"
#include "bench/measurements.h"
#include "bench/walkers.h"
#include "engine/movable.h"

namespace rwbench {

namespace {

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

}  // namespace

// Each figure comes from a child forked before the parent made its Stage.
void MeasureMemory(Session& session, int count) {
  const Options& options = session.options;
  // Empty mesh objects.
  std::vector<double> empty = InChild([&] {
    rwengine::NullBackend backend;
    auto* stage = new rwengine::Stage(&backend, 640, 480, options.root);
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
    auto* stage = new rwengine::Stage(&backend, 640, 480, options.root);
    if (!stage->LoadModule(options.module)) return std::vector<double>{};
    std::vector<csRef<iMeshObject>> objects;
    objects.reserve(count + 1);
    // Lit and drawn in fog, as a scene shows them. The first character
    // pays for what all share (its model, the drawing thread's storage).
    stage->GetView()->SetFog(csColor{0.5f, 0.5f, 0.5f}, 0.05f);
    auto movable = csRef<rwengine::Movable>::Adopt(new rwengine::Movable);
    auto nextWalker = [&] {
      objects.push_back(NewWalker(session, *stage, session.sample.c_str()));
      if (objects.back()) objects.back()->UpdateLighting(nullptr, 0, movable.get());
      return bool(objects.back());
    };
    if (!nextWalker()) return std::vector<double>{};
    session.ticks += kTicksPerFrame;
    stage->DrawFrame({{objects.back().get(), movable.get()}});
    rwengine::TextureList* textures = stage->GetEngine()->GetTextures();
    const int texturesBefore = textures->GetCount();
    const Resident before = Resident::Now();
    for (int i = 0; i < count; i++)
      if (!nextWalker()) return std::vector<double>{};
    const Resident after = Resident::Now();
    // Pixels of the images the engine's texture list now keeps.
    double imageKiB = 0;
    for (int i = texturesBefore; i < textures->GetCount(); i++) {
      iImage* image = textures->Get(i)->GetImage();
      imageKiB += static_cast<double>(image->GetWidth()) * image->GetHeight() * sizeof(csRGBpixel);
    }
    imageKiB /= 1024.0 * count;
    std::vector<std::pair<iMeshObject*, iMovable*>> scene;
    for (auto& object : objects) scene.emplace_back(object.get(), movable.get());
    session.ticks += kTicksPerFrame;
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
    if (!ReadCharacterFiles(session.modelFolder, session.sample.c_str(), files))
      return std::vector<double>{};
    std::vector<std::unique_ptr<DirectCharacter>> characters;
    characters.reserve(count + 1);
    auto next = [&] {
      characters.push_back(std::make_unique<DirectCharacter>());
      DirectCharacter& character = *characters.back();
      return character.Load(session.modelFolder, files) &&
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
    session.Fail("the empty-object child failed");
  } else {
    session.Add("empty_object_kib", empty[0], 1, "<= 256", empty[0] <= 256,
                "resident KiB per new mesh object, VmRSS before/after " + from + " " +
                    Fixed(empty[1], 1) + " KiB");
  }
  if (loaded.size() != 5 || bare.size() != 4 || bare[0] <= 0 || bare[1] <= 0 || bare[2] <= 0 ||
      bare[3] <= 0) {
    session.Fail("a loaded-object child failed");
    return;
  }
  const double ratio = loaded[0] / bare[0];
  session.Add("loaded_object_ratio", ratio, 3, "<= 1.25", ratio <= 1.25,
              "VmRSS per LoadModel'ed sample " + Fixed(loaded[0], 0) +
                  " KiB (with the textures the engine keeps) vs bare Cal3D core + instance " +
                  Fixed(bare[0], 0) + " KiB, before/after " + from + " " + Fixed(loaded[1], 0) +
                  " vs " + Fixed(bare[1], 0) + " KiB, ratio " + Fixed(loaded[1] / bare[1], 3));
  session.Add(
      "loaded_object_ratio_own", (loaded[1] - loaded[4]) / bare[1], 3, "", true,
      "the exact ratio less the " + Fixed(loaded[4], 0) +
          " KiB per character of decoded texture pixels that the engine's texture list keeps "
          "(the module's own share)");
  session.Add("loaded_object_kib", loaded[0], 0, "", true, "VmRSS KiB per loaded sample character");
  session.Add("bare_object_kib", bare[0], 0, "", true, "VmRSS KiB per bare Cal3D character");
  session.Add("extra_character_kib", loaded[2], 0, "<= 128", loaded[2] <= 128,
              "VmRSS KiB per extra character of a loaded model, lit (UpdateLighting) and drawn "
              "once in fog, " +
                  from + " " + Fixed(loaded[3], 0) +
                  " KiB; the fog values live in the drawing thread's storage, the colours in "
                  "the object");
  session.Add("drawn_object_ratio", loaded[2] / bare[2], 3, "", true,
              "the same after one frame each: module " + Fixed(loaded[2], 0) + " KiB vs direct " +
                  Fixed(bare[2], 0) + " KiB (exact: " + Fixed(loaded[3], 0) + " vs " +
                  Fixed(bare[3], 0) + "); the module now has its colours and vertex buffer");
}

}  // namespace rwbench
