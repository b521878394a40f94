#include "sample/morph_character.h"

#include <cal3d/cal3d.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "sample/newer_files.h"

namespace rwsample {
namespace {

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

// The newer files' face morphs that make each expression ("blink" closes the
// eyes' region the brow morph lifts, moving it down instead), enlarged so
// that a picture of the whole character shows them.
struct Expression {
  const char* name;
  const char* morph;
  float factor;
};
constexpr Expression kMade[] = {
    {"smile", "e38182", 2.0f}, {"blink", "brow_up", -1.5f}, {"jaw_open", "jaw_open", 2.0f}};
static_assert(sizeof(kMade) / sizeof(kMade[0]) == sizeof(kExpressions) / sizeof(kExpressions[0]));

// The body with one morph's deltas added, as the exporter of a whole target
// mesh writes it.
void WriteExpression(const std::string& dir, const Expression& expression,
                     const std::vector<MorphDef>& morphs) {
  CalCoreMeshPtr mesh = CalLoader::loadCoreMesh(dir + "/hero_body.cmf");
  Check(mesh, "cannot read hero_body.cmf");
  bool moved = false;
  for (const MorphDef& morph : morphs) {
    if (morph.name != expression.morph) continue;
    std::vector<CalCoreSubmesh::Vertex>& vertices =
        mesh->getCoreSubmesh(morph.submesh)->getVectorVertex();
    for (const MorphRecordDef& record : morph.records) {
      CalCoreSubmesh::Vertex& vertex = vertices[static_cast<size_t>(record.vertex)];
      vertex.position += CalVector(record.dp[0], record.dp[1], record.dp[2]) * expression.factor;
      vertex.normal += CalVector(record.dn[0], record.dn[1], record.dn[2]) * expression.factor;
      vertex.normal.normalize();
      moved = true;
    }
  }
  Check(moved, std::string("no face morph ") + expression.morph);
  const std::string file = std::string("hero_body_") + expression.name + ".cmf";
  Check(CalSaver::saveCoreMesh(dir + "/" + file, mesh.get()), "cannot write " + file);
}

}  // namespace

void WriteMorphCharacter(const std::string& dir) {
  CalCoreMeshPtr body = CalLoader::loadCoreMesh(dir + "/hero_body.cmf");
  CalCoreMeshPtr gear = CalLoader::loadCoreMesh(dir + "/hero_gear.cmf");
  Check(body && gear, "cannot read the hero's meshes");
  const std::vector<MorphDef> morphs = FaceMorphs(*body, HeadLevel({body.get(), gear.get()}));
  for (const Expression& expression : kMade) WriteExpression(dir, expression, morphs);

  std::ifstream hero(dir + "/hero.cfg");
  std::ostringstream lines;
  lines << hero.rdbuf();
  Check(static_cast<bool>(hero), "cannot read hero.cfg");
  std::ofstream out(dir + "/hero-morph.cfg", std::ios::trunc);
  out << "# The sample character with expressions as Cal3D 0.11 morph targets: each\n"
         "# blendmesh is a whole copy of hero_body.cmf with the face moved\n"
      << lines.str();
  for (const Expression& expression : kMade)
    out << "blendmesh = hero_body_" << expression.name << ".cmf\n";
  Check(static_cast<bool>(out.flush()), "cannot write hero-morph.cfg");
}

}  // namespace rwsample
