// Walking characters on both sides of every comparison: mesh objects of the
// loaded module, and the same files animated by Cal3D directly.
#pragma once

#include <functional>
#include <string>

#include "bench/direct.h"
#include "bench/session.h"
#include "engine/backend_null.h"
#include "engine/stage.h"
#include "host/math_types.h"
#include "host/ref.h"
#include "ical3dstate.h"

namespace rwbench {

// The cycle a character walks: "walk", or its first animation.
std::string CycleName(const CharacterFiles& files);
// The figures' name for a character: its configuration's name up to the last '.'.
std::string TagOf(const std::string& config);

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

csRef<iCal3DState> StateOf(iBase* mesh);

// A mesh object of the loaded module with `config` loaded and walking, or
// null. What the module prints goes to /dev/null.
csRef<iMeshObject> NewWalker(Session& session, rwengine::Stage& stage, const char* config);

// Draw records one module frame hands the renderer: two per sub-mesh.
int RecordsPerFrame(Session& session, const char* config);

// Cal3D's vertices as the module turns them into engine space, in place.
void ToEngineSpace(Session& session, csVector3* vertices, int count, float factor);

// The same character loaded and walking in Cal3D alone.
struct Walker {
  CharacterFiles files;
  DirectCharacter direct;
  FrameBuffers buffers;
  bool Load(Session& session, const char* config);
};

}  // namespace rwbench
