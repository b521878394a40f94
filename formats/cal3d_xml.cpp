#include "formats/cal3d_xml.h"

#include <tinyxml2.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <system_error>

namespace rigweave {
namespace {

using tinyxml2::XMLDocument;
using tinyxml2::XMLElement;
using tinyxml2::XMLNode;

// What Cal3D 0.11's saver writes in a binary header; the XML file's own
// version is checked against Cal3D's earliest, as its XML reader does.
constexpr int32_t kBinaryVersion = 1100;
constexpr int32_t kEarliestVersion = 699;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool Is(const XMLElement* element, const char* name) {
  return element != nullptr && SameCal3DName(element->Name(), name);
}

// The text an element opens with; Cal3D reads nothing else of it.
const char* TextOf(const XMLElement* element) {
  const XMLNode* first = element->FirstChild();
  return first != nullptr && first->ToText() != nullptr ? first->Value() : nullptr;
}

std::string_view NextToken(const char*& p) {
  while (*p != '\0' && IsSpace(*p)) p++;
  const char* start = p;
  while (*p != '\0' && !IsSpace(*p)) p++;
  return {start, static_cast<size_t>(p - start)};
}

bool OnlySpaceLeft(const char* p) {
  while (*p != '\0' && IsSpace(*p)) p++;
  return *p == '\0';
}

// How Windows' C library prints infinities and NaNs ("1.#INF", "-1.#IND",
// "1.#QNAN"): exporters built with it write them for broken normals.
bool WindowsSpecial(std::string_view token, double& value) {
  const bool negative = !token.empty() && token[0] == '-';
  if (negative) token.remove_prefix(1);
  if (token.substr(0, 3) != "1.#") return false;
  token.remove_prefix(3);
  size_t letters = 0;
  while (letters < token.size() && token[letters] >= 'A' && token[letters] <= 'Z') letters++;
  const std::string_view kind = token.substr(0, letters);
  for (char c : token.substr(letters))
    if (c < '0' || c > '9') return false;
  if (kind == "INF") {
    value = negative ? -HUGE_VAL : HUGE_VAL;
  } else if (kind == "IND" || kind == "QNAN" || kind == "SNAN") {
    value = std::numeric_limits<double>::quiet_NaN();
  } else {
    return false;
  }
  return true;
}

// One whole token as a decimal number, in any locale. Values beyond the
// type's range are refused; values too small for it become 0 or subnormal,
// as strtof and strtod make them.
template <class Real>
bool ParseReal(std::string_view token, Real& value) {
  if (token.size() > 1 && token[0] == '+' && token[1] != '-') token.remove_prefix(1);
  double special = 0;
  if (WindowsSpecial(token, special)) {
    value = static_cast<Real>(special);
    return true;
  }
  const char* end = token.data() + token.size();
  Real parsed{};
  auto [p, ec] = std::from_chars(token.data(), end, parsed);
  if (p != end) return false;
  if (ec == std::errc()) {
    value = parsed;
    return true;
  }
  if (ec != std::errc::result_out_of_range) return false;
  long double wide = 0;
  auto [q, wideEc] = std::from_chars(token.data(), end, wide);
  if (q != end || wideEc != std::errc()) return false;
  if (std::fabs(wide) > static_cast<long double>(std::numeric_limits<Real>::max())) return false;
  value = static_cast<Real>(wide);
  return true;
}

// Exactly `count` numbers, as `stream >> x >> y >> ...` reads a text that
// holds them. Fewer leave Cal3D's variables unset, more run into the next
// value it reads: both are refused.
bool ReadFloats(const char* text, float* values, int count) {
  if (text == nullptr) return false;
  for (int i = 0; i < count; i++)
    if (!ParseReal(NextToken(text), values[i])) return false;
  return OnlySpaceLeft(text);
}

bool ReadInts(const char* text, int32_t* values, int count) {
  if (text == nullptr) return false;
  for (int i = 0; i < count; i++) {
    std::string_view token = NextToken(text);
    if (token.size() > 1 && token[0] == '+' && token[1] != '-') token.remove_prefix(1);
    const char* end = token.data() + token.size();
    auto [p, ec] = std::from_chars(token.data(), end, values[i]);
    if (ec != std::errc() || p != end || token.empty()) return false;
  }
  return OnlySpaceLeft(text);
}

bool ReadInt(const char* text, int32_t& value) {
  return ReadInts(text, &value, 1);
}

// A value Cal3D reads with atof, narrowed to float.
bool ReadAtof(const char* text, float& value) {
  if (text == nullptr) return false;
  double wide = 0;
  if (!ParseReal(NextToken(text), wide) || !OnlySpaceLeft(text)) return false;
  value = static_cast<float>(wide);
  return true;
}

class BinaryWriter {
 public:
  explicit BinaryWriter(std::vector<uint8_t>& out) : out_(out) { out_.clear(); }

  void Magic(const char magic[4]) { Raw(magic, 4); }
  void Int(int32_t value) { Raw(&value, 4); }
  void Float(float value) { Raw(&value, 4); }
  void Floats(const float* values, int count) { Raw(values, 4 * static_cast<size_t>(count)); }
  void Byte(uint8_t value) { out_.push_back(value); }
  // Length with the NUL, the text, the NUL.
  void String(const char* text) {
    const size_t length = std::strlen(text) + 1;
    Int(static_cast<int32_t>(length));
    Raw(text, length);
  }
  size_t Here() const { return out_.size(); }
  void PatchInt(size_t at, int32_t value) { std::memcpy(out_.data() + at, &value, 4); }

 private:
  // Host byte order, as Cal3D reads it on little-endian machines.
  void Raw(const void* data, size_t size) {
    const size_t at = out_.size();
    out_.resize(at + size);
    std::memcpy(out_.data() + at, data, size);
  }
  std::vector<uint8_t>& out_;
};

struct KindNames {
  const char* root;
  const char* magic;
  char binaryMagic[4];
};

KindNames NamesOf(Cal3DKind kind) {
  switch (kind) {
    case Cal3DKind::Skeleton:
      return {"SKELETON", "XSF", {'C', 'S', 'F', '\0'}};
    case Cal3DKind::Animation:
      return {"ANIMATION", "XAF", {'C', 'A', 'F', '\0'}};
    case Cal3DKind::Mesh:
      return {"MESH", "XMF", {'C', 'M', 'F', '\0'}};
    case Cal3DKind::Material:
      break;
  }
  return {"MATERIAL", "XRF", {'C', 'R', 'F', '\0'}};
}

bool OldEnough(const char* version) {
  int32_t value = 0;
  return ReadInt(version, value) && value >= kEarliestVersion;
}

// The root element of the kind, after a HEADER element if there is one:
// files of versions 900 to 910 carry magic and version on a HEADER of their
// own, files of Cal3D 0.11's saver the version on the root.
const XMLElement* Root(const XMLDocument& document, Cal3DKind kind, const char*& reason) {
  const KindNames names = NamesOf(kind);
  const XMLElement* root = document.FirstChildElement();
  if (root == nullptr) {
    reason = "not an XML Cal3D file of this kind";
    return nullptr;
  }
  if (Is(root, "HEADER")) {
    const char* magic = root->Attribute("MAGIC");
    if (magic == nullptr || !SameCal3DName(magic, names.magic)) {
      reason = "not an XML Cal3D file of this kind";
      return nullptr;
    }
    if (!OldEnough(root->Attribute("VERSION"))) {
      reason = "unsupported file version";
      return nullptr;
    }
    root = root->NextSiblingElement();
  }
  if (!Is(root, names.root)) {
    reason = "not an XML Cal3D file of this kind";
    return nullptr;
  }
  const char* magic = root->Attribute("MAGIC");
  if (magic != nullptr && !SameCal3DName(magic, names.magic)) {
    reason = "not an XML Cal3D file of this kind";
    return nullptr;
  }
  const char* version = root->Attribute("VERSION");
  if (version != nullptr && !OldEnough(version)) {
    reason = "unsupported file version";
    return nullptr;
  }
  return root;
}

// The element `name` at `element`, with `count` numbers as its text.
bool Vector(const XMLElement* element, const char* name, float* values, int count) {
  return Is(element, name) && ReadFloats(TextOf(element), values, count);
}

bool IntAttribute(const XMLElement* element, const char* name, int32_t& value) {
  return ReadInt(element->Attribute(name), value);
}

const char* Skeleton(const XMLElement* root, BinaryWriter& out) {
  out.Int(0);  // bone count, set below
  const size_t countAt = out.Here() - 4;
  int32_t boneCount = 0;
  for (const XMLElement* bone = root->FirstChildElement(); bone != nullptr;
       bone = bone->NextSiblingElement()) {
    if (!Is(bone, "BONE")) return "element other than BONE in SKELETON";
    const char* name = bone->Attribute("NAME");
    if (name == nullptr) return "bone without NAME";
    float translation[3], rotation[4], localTranslation[3], localRotation[4];
    const XMLElement* element = bone->FirstChildElement();
    if (!Vector(element, "TRANSLATION", translation, 3)) return "bad or missing bone TRANSLATION";
    element = element->NextSiblingElement();
    if (!Vector(element, "ROTATION", rotation, 4)) return "bad or missing bone ROTATION";
    element = element->NextSiblingElement();
    if (!Vector(element, "LOCALTRANSLATION", localTranslation, 3))
      return "bad or missing bone LOCALTRANSLATION";
    element = element->NextSiblingElement();
    if (!Vector(element, "LOCALROTATION", localRotation, 4))
      return "bad or missing bone LOCALROTATION";
    element = element->NextSiblingElement();
    int32_t parent = 0;
    if (!Is(element, "PARENTID") || !ReadInt(TextOf(element), parent))
      return "bad or missing bone PARENTID";

    out.String(name);
    out.Floats(translation, 3);
    out.Floats(rotation, 4);
    out.Floats(localTranslation, 3);
    out.Floats(localRotation, 4);
    out.Int(parent);
    out.Int(0);  // child count, set below
    const size_t childCountAt = out.Here() - 4;
    int32_t childCount = 0;
    for (const XMLElement* child = element->NextSiblingElement(); child != nullptr;
         child = child->NextSiblingElement()) {
      int32_t id = 0;
      if (!Is(child, "CHILDID") || !ReadInt(TextOf(child), id)) return "bad bone CHILDID";
      out.Int(id);
      childCount++;
    }
    out.PatchInt(childCountAt, childCount);
    boneCount++;
  }
  out.PatchInt(countAt, boneCount);
  return nullptr;
}

const char* Animation(const XMLElement* root, BinaryWriter& out) {
  int32_t trackCount = 0;
  float duration = 0;
  if (!IntAttribute(root, "NUMTRACKS", trackCount)) return "bad or missing NUMTRACKS";
  if (!ReadAtof(root->Attribute("DURATION"), duration)) return "bad or missing DURATION";
  out.Float(duration);
  out.Int(trackCount);
  // As Cal3D: the first NUMTRACKS elements are the tracks, the rest is not read.
  const XMLElement* track = root->FirstChildElement();
  for (int32_t t = 0; t < trackCount; t++, track = track->NextSiblingElement()) {
    if (!Is(track, "TRACK")) return "missing or misplaced TRACK";
    int32_t bone = 0, keyframeCount = 0;
    if (!IntAttribute(track, "BONEID", bone)) return "bad or missing track BONEID";
    if (!IntAttribute(track, "NUMKEYFRAMES", keyframeCount))
      return "bad or missing track NUMKEYFRAMES";
    out.Int(bone);
    out.Int(keyframeCount);
    const XMLElement* keyframe = track->FirstChildElement();
    for (int32_t k = 0; k < keyframeCount; k++, keyframe = keyframe->NextSiblingElement()) {
      if (!Is(keyframe, "KEYFRAME")) return "missing or misplaced KEYFRAME";
      float time = 0, translation[3], rotation[4];
      if (!ReadAtof(keyframe->Attribute("TIME"), time)) return "bad or missing keyframe TIME";
      const XMLElement* element = keyframe->FirstChildElement();
      if (!Vector(element, "TRANSLATION", translation, 3))
        return "bad or missing keyframe TRANSLATION";
      if (!Vector(element->NextSiblingElement(), "ROTATION", rotation, 4))
        return "bad or missing keyframe ROTATION";
      out.Float(time);
      out.Floats(translation, 3);
      out.Floats(rotation, 4);
    }
  }
  return nullptr;
}

// `position` and `normal` receive the vertex's, the base of its morph targets.
const char* Vertex(const XMLElement* vertex, int32_t textureSets, bool physique, BinaryWriter& out,
                   float* position, float* normal) {
  const XMLElement* element = vertex->FirstChildElement();
  if (!Vector(element, "POS", position, 3)) return "bad or missing vertex POS";
  element = element->NextSiblingElement();
  if (!Vector(element, "NORM", normal, 3)) return "bad or missing vertex NORM";
  element = element->NextSiblingElement();
  // Cal3D's newer line may write a vertex colour here, which 0.11 has no
  // place for: read and dropped.
  if (Is(element, "COLOR")) {
    float colour[3];
    if (!Vector(element, "COLOR", colour, 3)) return "bad vertex COLOR";
    element = element->NextSiblingElement();
  }
  // Level-of-detail data is optional; without it a vertex never collapses.
  int32_t collapseId = -1, faceCollapseCount = 0;
  if (Is(element, "COLLAPSEID")) {
    if (!ReadInt(TextOf(element), collapseId)) return "bad vertex COLLAPSEID";
    element = element->NextSiblingElement();
    if (!Is(element, "COLLAPSECOUNT") || !ReadInt(TextOf(element), faceCollapseCount))
      return "bad or missing vertex COLLAPSECOUNT";
    element = element->NextSiblingElement();
  }
  out.Floats(position, 3);
  out.Floats(normal, 3);
  out.Int(collapseId);
  out.Int(faceCollapseCount);
  for (int32_t t = 0; t < textureSets; t++, element = element->NextSiblingElement()) {
    float uv[2];
    if (!Vector(element, "TEXCOORD", uv, 2)) return "bad or missing vertex TEXCOORD";
    out.Floats(uv, 2);
  }
  int32_t influenceCount = 0;
  if (!IntAttribute(vertex, "NUMINFLUENCES", influenceCount))
    return "bad or missing vertex NUMINFLUENCES";
  out.Int(influenceCount);
  for (int32_t i = 0; i < influenceCount; i++, element = element->NextSiblingElement()) {
    int32_t bone = 0;
    float weight = 0;
    if (!Is(element, "INFLUENCE")) return "missing or misplaced INFLUENCE";
    if (!IntAttribute(element, "ID", bone) || !ReadAtof(TextOf(element), weight))
      return "bad INFLUENCE";
    out.Int(bone);
    out.Float(weight);
  }
  if (physique) {
    float weight = 0;
    if (!Is(element, "PHYSIQUE") || !ReadAtof(TextOf(element), weight))
      return "bad or missing vertex PHYSIQUE";
    out.Float(weight);
  }
  return nullptr;
}

// One MORPH of Cal3D's newer line: blend vertices by increasing id, each a
// position and normal delta (and texture coordinates, dropped); a vertex
// without one keeps the base. Made dense, as Cal3D 0.11 holds targets.
const char* Morph(const XMLElement* morph, int32_t textureSets, const std::vector<float>& positions,
                  const std::vector<float>& normals, DenseMorphTarget& target) {
  const char* name = morph->Attribute("NAME");
  target.name = name != nullptr ? name : "";
  target.positions = positions;
  target.normals = normals;
  const int32_t vertexCount = static_cast<int32_t>(positions.size() / 3);
  int32_t last = -1;
  for (const XMLElement* blend = morph->FirstChildElement(); blend != nullptr;
       blend = blend->NextSiblingElement()) {
    int32_t id = 0;
    float dp[3], dn[3], uv[2];
    if (!Is(blend, "BLENDVERTEX")) return "missing or misplaced BLENDVERTEX";
    if (!IntAttribute(blend, "VERTEXID", id) || id <= last || id >= vertexCount)
      return "bad BLENDVERTEX VERTEXID (ids must increase within the sub-mesh's vertices)";
    last = id;
    const XMLElement* element = blend->FirstChildElement();
    if (!Vector(element, "POSITION", dp, 3)) return "bad or missing BLENDVERTEX POSITION";
    element = element->NextSiblingElement();
    if (!Vector(element, "NORMAL", dn, 3)) return "bad or missing BLENDVERTEX NORMAL";
    for (int32_t t = 0; t < textureSets; t++) {
      element = element->NextSiblingElement();
      if (!Vector(element, "TEXCOORD", uv, 2)) return "bad or missing BLENDVERTEX TEXCOORD";
    }
    for (size_t i = 0; i < 3; i++) {
      target.positions[3 * static_cast<size_t>(id) + i] += dp[i];
      target.normals[3 * static_cast<size_t>(id) + i] += dn[i];
    }
  }
  return nullptr;
}

// A sub-mesh's counts, as its attributes give them.
struct SubmeshCounts {
  int32_t material = 0, vertices = 0, faces = 0, textureSets = 0;
  int32_t lodSteps = 0, springs = 0, morphs = 0;
};

// The sub-mesh's attributes into `counts`, and the counts Cal3D's binary
// sub-mesh starts with to `out`.
const char* SubmeshHeader(const XMLElement* submesh, SubmeshCounts& counts, BinaryWriter& out) {
  if (!IntAttribute(submesh, "MATERIAL", counts.material))
    return "bad or missing sub-mesh MATERIAL";
  if (!IntAttribute(submesh, "NUMVERTICES", counts.vertices))
    return "bad or missing sub-mesh NUMVERTICES";
  if (!IntAttribute(submesh, "NUMFACES", counts.faces)) return "bad or missing sub-mesh NUMFACES";
  if (!IntAttribute(submesh, "NUMTEXCOORDS", counts.textureSets))
    return "bad or missing sub-mesh NUMTEXCOORDS";
  // Files without level-of-detail data, springs or morphs may leave their
  // counts out.
  if (submesh->Attribute("NUMLODSTEPS") != nullptr &&
      !IntAttribute(submesh, "NUMLODSTEPS", counts.lodSteps))
    return "bad sub-mesh NUMLODSTEPS";
  if (submesh->Attribute("NUMSPRINGS") != nullptr &&
      !IntAttribute(submesh, "NUMSPRINGS", counts.springs))
    return "bad sub-mesh NUMSPRINGS";
  if (submesh->Attribute("NUMMORPHS") != nullptr &&
      !IntAttribute(submesh, "NUMMORPHS", counts.morphs))
    return "bad sub-mesh NUMMORPHS";
  for (int32_t count : {counts.material, counts.vertices, counts.faces, counts.lodSteps,
                        counts.springs, counts.textureSets})
    out.Int(count);
  return nullptr;
}

// `count` SPRING elements from `element` on, to `out`; `element` is left
// at the one after them.
const char* Springs(const XMLElement*& element, int32_t count, BinaryWriter& out) {
  for (int32_t s = 0; s < count; s++, element = element->NextSiblingElement()) {
    int32_t ids[2];
    float coefficient = 0, length = 0;
    if (!Is(element, "SPRING")) return "missing or misplaced SPRING";
    if (!ReadInts(element->Attribute("VERTEXID"), ids, 2) ||
        !ReadAtof(element->Attribute("COEF"), coefficient) ||
        !ReadAtof(element->Attribute("LENGTH"), length))
      return "bad SPRING";
    out.Int(ids[0]);
    out.Int(ids[1]);
    out.Float(coefficient);
    out.Float(length);
  }
  return nullptr;
}

// `dense`: the blend vertices of the mesh's targets so far.
const char* Submesh(const XMLElement* submesh, int32_t index, BinaryWriter& out,
                    std::vector<DenseMorphTarget>& morphs, size_t& dense) {
  SubmeshCounts counts;
  if (const char* bad = SubmeshHeader(submesh, counts, out)) return bad;
  const int32_t vertexCount = counts.vertices, textureSets = counts.textureSets;

  // Vertices, springs and faces follow one another as Cal3D walks them.
  const XMLElement* element = submesh->FirstChildElement();
  std::vector<float> positions, normals;
  for (int32_t v = 0; v < vertexCount; v++, element = element->NextSiblingElement()) {
    float position[3], normal[3];
    if (!Is(element, "VERTEX")) return "missing or misplaced VERTEX";
    if (const char* bad = Vertex(element, textureSets, counts.springs > 0, out, position, normal))
      return bad;
    if (counts.morphs > 0) {
      positions.insert(positions.end(), position, position + 3);
      normals.insert(normals.end(), normal, normal + 3);
    }
  }
  if (const char* bad = Springs(element, counts.springs, out)) return bad;
  for (int32_t m = 0; m < counts.morphs; m++, element = element->NextSiblingElement()) {
    if (!Is(element, "MORPH")) return "missing or misplaced MORPH";
    dense += static_cast<size_t>(vertexCount);
    if (dense > kMaxDenseBlendVertices) return "morph targets of more than 4194304 blend vertices";
    DenseMorphTarget& target = morphs.emplace_back();
    target.submesh = index;
    if (const char* bad = Morph(element, textureSets, positions, normals, target)) return bad;
  }
  for (int32_t f = 0; f < counts.faces; f++, element = element->NextSiblingElement()) {
    int32_t ids[3];
    if (!Is(element, "FACE")) return "missing or misplaced FACE";
    if (!ReadInts(element->Attribute("VERTEXID"), ids, 3)) return "bad FACE";
    out.Int(ids[0]);
    out.Int(ids[1]);
    out.Int(ids[2]);
  }
  return nullptr;
}

const char* Mesh(const XMLElement* root, BinaryWriter& out, std::vector<DenseMorphTarget>& morphs) {
  int32_t submeshCount = 0;
  if (!IntAttribute(root, "NUMSUBMESH", submeshCount)) return "bad or missing NUMSUBMESH";
  out.Int(submeshCount);
  size_t dense = 0;
  const XMLElement* submesh = root->FirstChildElement();
  for (int32_t s = 0; s < submeshCount; s++, submesh = submesh->NextSiblingElement()) {
    if (!Is(submesh, "SUBMESH")) return "missing or misplaced SUBMESH";
    if (const char* bad = Submesh(submesh, s, out, morphs, dense)) return bad;
  }
  return nullptr;
}

// Colours and shininess are read leniently: they reach no index or size,
// and the module does not use them.
void Colour(const XMLElement* element, BinaryWriter& out) {
  const char* text = TextOf(element);
  for (int channel = 0; channel < 4; channel++) {
    double value = channel == 3 ? 255 : 0;
    if (text != nullptr) {
      const std::string_view token = NextToken(text);
      if (!ParseReal(token, value) || !std::isfinite(value)) value = channel == 3 ? 255 : 0;
    }
    // As Cal3D's (unsigned char) of the int it read.
    const double clamped = std::fmax(std::fmin(value, 2147483647.0), -2147483648.0);
    out.Byte(static_cast<uint8_t>(static_cast<uint32_t>(static_cast<int32_t>(clamped))));
  }
}

const char* Material(const XMLElement* root, BinaryWriter& out) {
  const XMLElement* element = root->FirstChildElement();
  for (const char* name : {"AMBIENT", "DIFFUSE", "SPECULAR"}) {
    if (!Is(element, name) || TextOf(element) == nullptr) return "bad or missing material colour";
    Colour(element, out);
    element = element->NextSiblingElement();
  }
  if (!Is(element, "SHININESS") || TextOf(element) == nullptr)
    return "bad or missing material SHININESS";
  float shininess = 0;
  if (!ReadAtof(TextOf(element), shininess)) shininess = 0;
  out.Float(shininess);
  out.Int(0);  // map count, set below
  const size_t countAt = out.Here() - 4;
  int32_t mapCount = 0;
  // Every element after SHININESS is a map, whatever NUMMAPS says.
  for (element = element->NextSiblingElement(); element != nullptr;
       element = element->NextSiblingElement()) {
    const char* name = TextOf(element);
    if (!Is(element, "MAP") || name == nullptr) return "bad material MAP";
    out.String(name);
    mapCount++;
  }
  out.PatchInt(countAt, mapCount);
  return nullptr;
}

}  // namespace

bool SameCal3DName(const char* a, const char* b) {
  for (;; a++, b++) {
    char x = *a, y = *b;
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
    if (x == '\0') return true;
  }
}

const char* ConvertXmlToBinary(Cal3DKind kind, const uint8_t* bytes, size_t size,
                               std::vector<uint8_t>& binary,
                               std::vector<DenseMorphTarget>* morphTargets) {
  binary.clear();
  std::vector<DenseMorphTarget> dropped;
  std::vector<DenseMorphTarget>& morphs = morphTargets != nullptr ? *morphTargets : dropped;
  morphs.clear();
  if (size > kMaxXmlFileBytes) return "XML file larger than 64 MiB";
  // Every tag, comment or declaration starts with '<', and every text node
  // ends at one: their count bounds the nodes the document will hold.
  size_t tags = 0;
  const uint8_t* const end = bytes + size;
  for (const uint8_t* at = bytes; size > 0 && at < end; at++) {
    at = static_cast<const uint8_t*>(std::memchr(at, '<', static_cast<size_t>(end - at)));
    if (at == nullptr) break;
    if (++tags > kMaxXmlTags) return "XML file of more than 2097152 tags";
  }
  // Cal3D's XML reader condenses white space in texts, as this mode does.
  XMLDocument document(true, tinyxml2::COLLAPSE_WHITESPACE);
  if (size == 0 ||
      document.Parse(reinterpret_cast<const char*>(bytes), size) != tinyxml2::XML_SUCCESS)
    return "malformed XML";
  const char* reason = nullptr;
  const XMLElement* root = Root(document, kind, reason);
  if (root == nullptr) return reason;

  BinaryWriter out(binary);
  out.Magic(NamesOf(kind).binaryMagic);
  out.Int(kBinaryVersion);
  switch (kind) {
    case Cal3DKind::Skeleton:
      reason = Skeleton(root, out);
      break;
    case Cal3DKind::Animation:
      reason = Animation(root, out);
      break;
    case Cal3DKind::Mesh:
      reason = Mesh(root, out, morphs);
      break;
    case Cal3DKind::Material:
      reason = Material(root, out);
      break;
  }
  if (reason != nullptr) {
    binary.clear();
    morphs.clear();
  }
  return reason;
}

}  // namespace rigweave
