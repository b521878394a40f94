// Seeds of the fuzzers of newer Cal3D files and morph animations: the
// generator's files of every layout below models/newer/ (skeletons,
// animations, materials, morph animations), and small meshes with morph
// blocks in each mesh layout, written here byte by byte.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool Write(const fs::path& dir, const std::string& name, char kind, const std::string& bytes) {
  fs::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
  out << kind << bytes;
  return static_cast<bool>(out.flush());
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void Put(std::string& out, int32_t value) {
  out.append(reinterpret_cast<const char*>(&value), 4);
}
void Put(std::string& out, float value) {
  out.append(reinterpret_cast<const char*>(&value), 4);
}

// Two triangles on bones 0 to 2, with a spring and two morph blocks of two
// records each: counted, or ended by an id past the vertices; with vertex
// colours or not.
std::string SmallMesh(int32_t version, bool colours, bool counted) {
  std::string b = std::string("CMF", 4);
  Put(b, version);
  Put(b, 1);
  for (int32_t field : {0, 4, 2, 0, 1, 1, 2}) Put(b, field);  // ..., texture sets, morphs
  for (int v = 0; v < 4; v++) {
    for (float f : {float(v % 2), float(v / 2), 0.0f, 0.0f, 0.0f, 1.0f}) Put(b, f);
    if (colours) Put(b, 0.5f), Put(b, 0.5f), Put(b, 0.5f);
    Put(b, -1), Put(b, 0);                   // collapse id, face collapses
    Put(b, 0.25f * v), Put(b, 0.5f);         // texture coordinates
    Put(b, 1), Put(b, v % 3), Put(b, 1.0f);  // one influence
    Put(b, v == 0 ? 0.0f : 1.0f);            // physique weight
  }
  Put(b, 1), Put(b, 2), Put(b, 10.0f), Put(b, 1.0f);  // the spring
  for (int m = 0; m < 2; m++) {
    Put(b, 7);
    b.append("e38182", 7);
    if (counted) Put(b, 2);
    for (int32_t vertex : {1, 3}) {
      Put(b, vertex);
      for (float f : {0.1f, 0.0f, 0.2f, 0.0f, 0.1f, 0.0f, 0.0f, 1.0f}) Put(b, f);
    }
    if (!counted) Put(b, 5);
  }
  for (int32_t corner : {0, 1, 3, 0, 3, 2}) Put(b, corner);
  return b;
}

}  // namespace

const char kXmlMorphMesh[] =
    "<MESH VERSION=\"1300\" NUMSUBMESH=\"1\">\n"
    "<SUBMESH NUMMORPHS=\"1\" NUMVERTICES=\"3\" NUMFACES=\"1\" MATERIAL=\"0\" "
    "NUMLODSTEPS=\"0\" NUMSPRINGS=\"0\" NUMTEXCOORDS=\"1\">\n"
    "<VERTEX ID=\"0\" NUMINFLUENCES=\"1\"><POS>0 0 0</POS><NORM>0 0 1</NORM>"
    "<COLOR>0.5 0.5 0.5</COLOR><TEXCOORD>0 0</TEXCOORD><INFLUENCE ID=\"0\">1</INFLUENCE></VERTEX>\n"
    "<VERTEX ID=\"1\" NUMINFLUENCES=\"2\"><POS>1 0 0</POS><NORM>0 0 1</NORM>"
    "<COLOR>1 0 0</COLOR><TEXCOORD>1 0</TEXCOORD><INFLUENCE ID=\"0\">0.5</INFLUENCE>"
    "<INFLUENCE ID=\"1\">0.5</INFLUENCE></VERTEX>\n"
    "<VERTEX ID=\"2\" NUMINFLUENCES=\"1\"><POS>0 1 0</POS><NORM>0 0 1</NORM>"
    "<COLOR>0 1 0</COLOR><TEXCOORD>0 1</TEXCOORD><INFLUENCE ID=\"1\">1</INFLUENCE></VERTEX>\n"
    "<MORPH NAME=\"smile\"><BLENDVERTEX VERTEXID=\"1\"><POSITION>0 0.1 0</POSITION>"
    "<NORMAL>0 0 0</NORMAL><TEXCOORD>0 0</TEXCOORD></BLENDVERTEX><BLENDVERTEX VERTEXID=\"2\">"
    "<POSITION>0.1 0 0</POSITION><NORMAL>0 0 0</NORMAL><TEXCOORD>0 0</TEXCOORD></BLENDVERTEX>"
    "</MORPH>\n"
    "<FACE VERTEXID=\"0 1 2\" />\n"
    "</SUBMESH>\n"
    "</MESH>\n";

bool NewerSeeds(const fs::path& seeds, const std::string& models) {
  const fs::path cal3d = seeds / "fuzz_cal3d_newer";
  const fs::path morph = seeds / "fuzz_morph_animation";
  const fs::path newer = fs::path(models) / "newer";
  const std::pair<const char*, char> files[] = {
      {"hero.1301.csf", 0},  {"hero.a1300.csf", 0},      {"hero.l1300.csf", 0},
      {"hero.915.csf", 0},   {"idle.1300.caf", 1},       {"walk.1301.caf", 1},
      {"walk.1200.caf", 1},  {"walk.913.caf", 1},        {"wave.916.caf", 1},
      {"walk.919.caf", 1},   {"wave.1300 plain.caf", 1}, {"skin.1301.crf", 3},
      {"shirt.1200.crf", 3}, {"skin.915.crf", 3}};
  bool ok = true;
  for (const auto& [file, kind] : files) {
    const std::string bytes = ReadAll(newer / file);
    ok = ok && !bytes.empty() && Write(cal3d, file, kind, bytes);
  }
  ok = ok && Write(cal3d, "mesh_1300_counted", 2, SmallMesh(1300, false, true)) &&
       Write(cal3d, "mesh_1301_counted", 2, SmallMesh(1301, false, true)) &&
       Write(cal3d, "mesh_1300_colours_ended", 2, SmallMesh(1300, true, false)) &&
       Write(cal3d, "mesh_1300_ended", 2, SmallMesh(1300, false, false)) &&
       Write(cal3d, "mesh_911", 2, SmallMesh(911, true, false));
  // A 1300 XML mesh of the newer line's elements: vertex colours and a morph.
  ok = ok && Write(seeds / "fuzz_cal3d_xml", "mesh_1300_morph.xmf", 2, kXmlMorphMesh);
  for (const char* file : {"face.xpf", "face named.XPF"})
    ok = ok && Write(morph, file, 1, ReadAll(newer / file));
  for (const char* file : {"face.cpf", "face saver.cpf", "face named.cpf"})
    ok = ok && Write(morph, file, 0, ReadAll(newer / file));
  return ok;
}
