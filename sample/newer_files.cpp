#include "sample/newer_files.h"

#include <cal3d/corekeyframe.h>
#include <cal3d/coretrack.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace rwsample {
namespace {

class Bytes {
 public:
  void Raw(const void* from, size_t count) { bytes_.append(static_cast<const char*>(from), count); }
  void Int(int32_t value) { Raw(&value, 4); }
  void Float(float value) { Raw(&value, 4); }
  void Vector(const CalVector& v) {
    Float(v.x);
    Float(v.y);
    Float(v.z);
  }
  void Quaternion(const CalQuaternion& q) {
    Float(q.x);
    Float(q.y);
    Float(q.z);
    Float(q.w);
  }
  void String(const std::string& text) {
    Int(static_cast<int32_t>(text.size() + 1));
    bytes_ += text;
    bytes_.push_back('\0');
  }
  void Header(const char* magic, int version) {
    Raw(magic, 4);
    Int(version);
  }
  std::string& Text() { return bytes_; }

 private:
  std::string bytes_;
};

// A little-endian bit stream: bit j of byte i is stream bit 8i + j.
class BitWriter {
 public:
  explicit BitWriter(size_t bytes) : bits_(bytes, 0) {}
  void Put(uint32_t value, int count) {
    for (int i = 0; i < count; i++, at_++)
      if ((value >> i) & 1u) bits_[static_cast<size_t>(at_ >> 3)] |= uint8_t(1u << (at_ & 7));
  }
  const std::vector<uint8_t>& Data() const { return bits_; }

 private:
  std::vector<uint8_t> bits_;
  int at_ = 0;
};

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

// ---------------------------------------------------------------------------
// Skeletons

}  // namespace

std::string SkeletonFile(CalCoreSkeleton& skeleton, int version, SkeletonLayout layout) {
  Bytes out;
  out.Header("CSF", version);
  std::vector<CalCoreBone*>& bones = skeleton.getVectorCoreBone();
  out.Int(static_cast<int32_t>(bones.size()));
  if (layout == SkeletonLayout::AmbientLights) {
    for (float c : {0.2f, 0.25f, 0.3f}) out.Float(c);
  }
  for (CalCoreBone* bone : bones) {
    out.String(bone->getName());
    out.Vector(bone->getTranslation());
    out.Quaternion(bone->getRotation());
    out.Vector(bone->getTranslationBoneSpace());
    out.Quaternion(bone->getRotationBoneSpace());
    out.Int(bone->getParentId());
    if (layout != SkeletonLayout::Plain) {
      out.Int(1);  // light type
      for (float c : {1.0f, 0.9f, 0.8f}) out.Float(c);
    }
    out.Int(static_cast<int32_t>(bone->getListChildId().size()));
    for (int child : bone->getListChildId()) out.Int(child);
  }
  return out.Text();
}

namespace {

// ---------------------------------------------------------------------------
// Animations

struct Key {
  float time;
  CalVector translation;
  CalQuaternion rotation;
};

std::vector<Key> Keys(CalCoreTrack& track) {
  std::vector<Key> keys;
  for (int i = 0; i < track.getCoreKeyframeCount(); i++) {
    CalCoreKeyframe* k = track.getCoreKeyframe(i);
    keys.push_back({k->getTime(), k->getTranslation(), k->getRotation()});
  }
  return keys;
}

bool Same(const CalVector& a, const CalVector& b) {
  return a.x == b.x && a.y == b.y && a.z == b.z;
}

uint32_t Quantise(double value, double range, int bits) {
  const double top = std::ldexp(1.0, bits) - 1;
  return static_cast<uint32_t>(std::min(top, std::floor(std::fabs(value) / range * top + 0.5)));
}

void PackTranslation(const CalVector& t, bool highRange, Bytes& out) {
  const int bits = highRange ? 25 : 9;
  const double range = highRange ? 8388608.0 : 128.0;
  Check(std::fabs(t.x) <= range && std::fabs(t.y) <= range && std::fabs(t.z) <= range,
        "translation out of the packed range");
  BitWriter w(highRange ? 10 : 4);
  uint32_t z = 0;
  for (float v : {t.x, t.y, t.z}) {
    z = Quantise(v, range, bits);
    w.Put(z, bits);
    w.Put(v < 0 ? 1 : 0, 1);
  }
  w.Put(z & 3, 2);  // the writer's padding
  out.Raw(w.Data().data(), w.Data().size());
}

void PackRotation(CalQuaternion q, float time, Bytes& out) {
  float c[4] = {q.x, q.y, q.z, q.w};
  int largest = 0;
  for (int i = 1; i < 4; i++)
    if (std::fabs(c[i]) > std::fabs(c[largest])) largest = i;
  if (c[largest] < 0)
    for (float& v : c) v = -v;
  BitWriter w(6);
  w.Put(static_cast<uint32_t>(largest), 2);
  for (int i = 0; i < 4; i++) {
    if (i == largest) continue;
    w.Put(c[i] < 0 ? 1 : 0, 1);
    w.Put(Quantise(c[i], 1.0, 11), 11);
  }
  w.Put(static_cast<uint32_t>(std::floor(time * 30 + 0.5)) & 0x3FF, 10);
  out.Raw(w.Data().data(), w.Data().size());
}

void PackedTrack(CalCoreTrack& track, CalCoreSkeleton& skeleton, int version, bool forceHigh,
                 Bytes& out) {
  const std::vector<Key> keys = Keys(track);
  const int bone = track.getCoreBoneId();
  const CalVector& rest = skeleton.getCoreBone(bone)->getTranslation();
  bool atRest = true, moves = false, high = forceHigh;
  for (const Key& k : keys) {
    atRest = atRest && Same(k.translation, rest);
    moves = moves || !Same(k.translation, keys[0].translation);
    high = high || std::fabs(k.translation.x) > 128 || std::fabs(k.translation.y) > 128 ||
           std::fabs(k.translation.z) > 128;
  }
  const bool required = !atRest;
  uint8_t header[4] = {static_cast<uint8_t>(bone & 0xFF),
                       static_cast<uint8_t>(((bone >> 8) & 0x1F) | (required ? 0x80 : 0) |
                                            (high ? 0x40 : 0) | (moves ? 0x20 : 0)),
                       static_cast<uint8_t>(keys.size() & 0xFF),
                       static_cast<uint8_t>(keys.size() >> 8)};
  out.Raw(header, 4);
  for (size_t i = 0; i < keys.size(); i++) {
    const bool block = required && (i == 0 || moves);
    if (block) PackTranslation(keys[i].translation, high, out);
    PackRotation(keys[i].rotation, keys[i].time, out);
    if (version == 917 && block) out.Vector(keys[i].translation);
    if (version == 916 || version == 917) out.Quaternion(keys[i].rotation);
  }
}

// CalQuaternion::compress's layout; the largest component by magnitude is
// the one left out, made positive, so that the others fit after scaling.
void ShortQuaternion(const CalQuaternion& q, Bytes& out) {
  float c[4] = {q.x, q.y, q.z, q.w};
  int largest = 0;
  for (int i = 1; i < 4; i++)
    if (std::fabs(c[i]) > std::fabs(c[largest])) largest = i;
  if (c[largest] < 0)
    for (float& v : c) v = -v;
  int16_t s[3];
  for (int i = 0, n = 0; i < 4; i++) {
    if (i == largest) continue;
    const double v = std::clamp(c[i] * 32767.0 * 1.41421, -32767.0, 32767.0);
    s[n++] = static_cast<int16_t>(v);
  }
  s[1] = static_cast<int16_t>((s[1] & ~1) | ((largest >> 1) & 1));
  s[2] = static_cast<int16_t>((s[2] & ~1) | (largest & 1));
  out.Raw(s, 6);
}

void MinScaleTrack(CalCoreTrack& track, float duration, Bytes& out) {
  const std::vector<Key> keys = Keys(track);
  float lo[3] = {1e30f, 1e30f, 1e30f}, hi[3] = {-1e30f, -1e30f, -1e30f};
  for (const Key& k : keys) {
    const float t[3] = {k.translation.x, k.translation.y, k.translation.z};
    for (int a = 0; a < 3; a++) {
      lo[a] = std::min(lo[a], t[a]);
      hi[a] = std::max(hi[a], t[a]);
    }
  }
  const float top[3] = {2047, 2047, 1023};
  float step[3];
  for (int a = 0; a < 3; a++) step[a] = (hi[a] - lo[a]) / top[a];
  out.Int(track.getCoreBoneId());
  out.Int(static_cast<int32_t>(keys.size()));
  for (float v : lo) out.Float(v);
  for (float v : step) out.Float(v);
  for (const Key& k : keys) {
    const uint16_t t16 = static_cast<uint16_t>(std::min(65535.0f, k.time / duration * 65535));
    const float t[3] = {k.translation.x, k.translation.y, k.translation.z};
    uint32_t q[3];
    for (int a = 0; a < 3; a++)
      q[a] = step[a] > 0
                 ? static_cast<uint32_t>(std::min(top[a], std::floor((t[a] - lo[a]) / step[a])))
                 : 0;
    const uint32_t packed = q[0] | q[1] << 11 | q[2] << 22;
    out.Raw(&t16, 2);
    out.Raw(&packed, 4);
    ShortQuaternion(k.rotation, out);
  }
}

}  // namespace

std::string AnimationFile(CalCoreAnimation& animation, CalCoreSkeleton& skeleton, int version,
                          AnimationLayout layout, bool highRange) {
  using L = AnimationLayout;
  Bytes out;
  out.Header("CAF", version);
  const bool packed =
      layout == L::CompressionFlagPacked || layout == L::FlagsPacked || layout == L::LineagePacked;
  if (layout == L::CompressionFlagPlain || layout == L::CompressionFlagPacked ||
      layout == L::FlagsPlain || layout == L::FlagsPacked)
    out.Int(packed ? 1 : 0);
  out.Float(animation.getDuration());
  std::list<CalCoreTrack*>& tracks = animation.getListCoreTrack();
  out.Int(static_cast<int32_t>(tracks.size()));
  if (layout == L::U12Plain) out.Int(0);
  if (layout == L::U12MinScale) out.Int(1);
  if (layout == L::FlagsPlain || layout == L::FlagsPacked) out.Int(packed ? 1 : 0);
  for (CalCoreTrack* track : tracks) {
    if (packed) {
      PackedTrack(*track, skeleton, version, highRange, out);
    } else if (layout == L::U12MinScale) {
      MinScaleTrack(*track, animation.getDuration(), out);
    } else {
      const std::vector<Key> keys = Keys(*track);
      out.Int(track->getCoreBoneId());
      out.Int(static_cast<int32_t>(keys.size()));
      for (const Key& k : keys) {
        out.Float(k.time);
        out.Vector(k.translation);
        out.Quaternion(k.rotation);
      }
    }
  }
  return out.Text();
}

// ---------------------------------------------------------------------------
// Meshes

std::vector<MorphDef> FaceMorphs(CalCoreMesh& mesh, float headLevel) {
  std::vector<MorphDef> morphs;
  int faceSubmesh = -1;
  size_t most = 0;
  std::vector<std::vector<int>> head(static_cast<size_t>(mesh.getCoreSubmeshCount()));
  float top = headLevel, centreY = 0;
  size_t count = 0;
  for (int s = 0; s < mesh.getCoreSubmeshCount(); s++) {
    const auto& vertices = mesh.getCoreSubmesh(s)->getVectorVertex();
    for (size_t v = 0; v < vertices.size(); v++) {
      if (vertices[v].position.z <= headLevel) continue;
      head[static_cast<size_t>(s)].push_back(static_cast<int>(v));
      top = std::max(top, vertices[v].position.z);
      centreY += vertices[v].position.y;
      count++;
    }
    if (head[static_cast<size_t>(s)].size() > most) {
      most = head[static_cast<size_t>(s)].size();
      faceSubmesh = s;
    }
  }
  if (count == 0) return morphs;
  centreY /= static_cast<float>(count);
  const float height = top - headLevel;
  for (int s = 0; s < mesh.getCoreSubmeshCount(); s++) {
    const auto& vertices = mesh.getCoreSubmesh(s)->getVectorVertex();
    const std::vector<int>& ids = head[static_cast<size_t>(s)];
    if (ids.empty()) continue;
    const auto add = [&](const char* name, auto delta) {
      MorphDef morph;
      morph.submesh = s;
      morph.name = name;
      for (int id : ids) {
        MorphRecordDef record;
        record.vertex = id;
        const CalVector& p = vertices[static_cast<size_t>(id)].position;
        if (!delta(p, (p.z - headLevel) / height, record)) continue;
        morph.records.push_back(record);
      }
      if (!morph.records.empty()) morphs.push_back(std::move(morph));
    };
    if (s == faceSubmesh) {
      // The face looks along -y: its front is below the head's mean y.
      add("jaw_open", [&](const CalVector& p, float up, MorphRecordDef& r) {
        if (up > 0.45f || p.y > centreY) return false;
        r.dp[2] = -0.35f * height * (0.45f - up);
        r.dp[1] = -0.02f * height;
        r.dn[1] = -0.05f;
        return true;
      });
      add("brow_up", [&](const CalVector& p, float up, MorphRecordDef& r) {
        if (up < 0.55f || up > 0.8f || p.y > centreY) return false;
        r.dp[2] = 0.08f * height;
        r.dn[2] = 0.05f;
        return true;
      });
      // "あ" as its UTF-8 bytes in hex, as a real exporter names it.
      add("e38182", [&](const CalVector& p, float up, MorphRecordDef& r) {
        if (up > 0.5f || p.y > centreY) return false;
        r.dp[0] = p.x > 0 ? 0.06f * height : -0.06f * height;
        return true;
      });
    } else {
      add("lift", [&](const CalVector&, float up, MorphRecordDef& r) {
        r.dp[2] = 0.1f * height * up;
        return true;
      });
    }
  }
  return morphs;
}

float HeadLevel(const std::vector<CalCoreMesh*>& meshes) {
  float lowest = 1e30f, highest = -1e30f;
  for (CalCoreMesh* mesh : meshes)
    for (int s = 0; s < mesh->getCoreSubmeshCount(); s++)
      for (const CalCoreSubmesh::Vertex& v : mesh->getCoreSubmesh(s)->getVectorVertex()) {
        lowest = std::min(lowest, v.position.z);
        highest = std::max(highest, v.position.z);
      }
  return highest - 0.13f * (highest - lowest);
}

std::string MeshFile(CalCoreMesh& mesh, int version, MeshLayout layout,
                     const std::vector<MorphDef>& morphs) {
  using L = MeshLayout;
  Bytes out;
  out.Header("CMF", version);
  out.Int(mesh.getCoreSubmeshCount());
  for (int s = 0; s < mesh.getCoreSubmeshCount(); s++) {
    CalCoreSubmesh& sub = *mesh.getCoreSubmesh(s);
    std::vector<const MorphDef*> own;
    for (const MorphDef& morph : morphs)
      if (morph.submesh == s) own.push_back(&morph);
    Check(layout != L::Plain || own.empty(), "morphs in a layout without them");
    const auto& texels = sub.getVectorVectorTextureCoordinate();
    const int texelCount = static_cast<int>(texels.size());
    const std::vector<CalCoreSubmesh::Vertex>& vertices = sub.getVectorVertex();
    out.Int(sub.getCoreMaterialThreadId());
    out.Int(sub.getVertexCount());
    out.Int(sub.getFaceCount());
    out.Int(sub.getLodCount());
    out.Int(sub.getSpringCount());
    out.Int(texelCount);
    if (layout != L::Plain) out.Int(static_cast<int32_t>(own.size()));
    for (size_t v = 0; v < vertices.size(); v++) {
      out.Vector(vertices[v].position);
      out.Vector(vertices[v].normal);
      if (layout == L::ColoursEnded || layout == L::ColoursEndedAbsolute)
        for (float c : {0.5f, 0.25f, 1.0f}) out.Float(c);
      out.Int(vertices[v].collapseId);
      out.Int(vertices[v].faceCollapseCount);
      for (int t = 0; t < texelCount; t++) {
        out.Float(texels[static_cast<size_t>(t)][v].u);
        out.Float(texels[static_cast<size_t>(t)][v].v);
      }
      out.Int(static_cast<int32_t>(vertices[v].vectorInfluence.size()));
      for (const CalCoreSubmesh::Influence& influence : vertices[v].vectorInfluence) {
        out.Int(influence.boneId);
        out.Float(influence.weight);
      }
      if (sub.getSpringCount() > 0) out.Float(sub.getVectorPhysicalProperty()[v].weight);
    }
    for (const CalCoreSubmesh::Spring& spring : sub.getVectorSpring()) {
      out.Int(spring.vertexId[0]);
      out.Int(spring.vertexId[1]);
      out.Float(spring.springCoefficient);
      out.Float(spring.idleLength);
    }
    for (const MorphDef* morph : own) {
      out.String(morph->name);
      if (layout == L::Counted) out.Int(static_cast<int32_t>(morph->records.size()));
      for (const MorphRecordDef& r : morph->records) {
        out.Int(r.vertex);
        const CalCoreSubmesh::Vertex& base = vertices[static_cast<size_t>(r.vertex)];
        if (layout == L::ColoursEndedAbsolute) {
          out.Vector(base.position + CalVector(r.dp[0], r.dp[1], r.dp[2]));
          out.Vector(base.normal + CalVector(r.dn[0], r.dn[1], r.dn[2]));
        } else {
          for (float d : r.dp) out.Float(d);
          for (float d : r.dn) out.Float(d);
        }
        // Exporters write (0, 1) for every morph texture coordinate.
        for (int t = 0; t < texelCount; t++) {
          out.Float(0);
          out.Float(1);
        }
      }
      if (layout != L::Counted) out.Int(sub.getVertexCount() + 1);
    }
    for (const CalCoreSubmesh::Face& face : sub.getVectorFace())
      for (int corner = 0; corner < 3; corner++) out.Int(face.vertexId[corner]);
  }
  return out.Text();
}

std::string MaterialFile(CalCoreMaterial& material, int version, bool mapTypes) {
  Bytes out;
  out.Header("CRF", version);
  for (const CalCoreMaterial::Color& c :
       {material.getAmbientColor(), material.getDiffuseColor(), material.getSpecularColor()})
    out.Raw(&c, 4);
  out.Float(material.getShininess());
  out.Int(material.getMapCount());
  for (int i = 0; i < material.getMapCount(); i++) {
    out.String(material.getMapFilename(i));
    if (mapTypes) out.String(i == 0 ? "Diffuse Color" : "Bump");
  }
  return out.Text();
}

std::string MeshXml(const std::string& saverXml, const std::vector<MorphDef>& morphs) {
  std::istringstream lines(saverXml);
  std::ostringstream xml;
  std::string line;
  int submesh = -1;
  bool morphsWritten = false;
  while (std::getline(lines, line)) {
    if (line.find("<MESH VERSION=\"1100\"") != std::string::npos) {
      line.replace(line.find("1100"), 4, "1300");
    } else if (line.find("<SUBMESH ") != std::string::npos) {
      submesh++;
      morphsWritten = false;
      int count = 0;
      for (const MorphDef& morph : morphs) count += morph.submesh == submesh;
      line.replace(line.find("<SUBMESH ") + 9, 0, "NUMMORPHS=\"" + std::to_string(count) + "\" ");
    } else if (line.find("<FACE ") != std::string::npos && !morphsWritten) {
      morphsWritten = true;
      for (const MorphDef& morph : morphs) {
        if (morph.submesh != submesh) continue;
        xml << "        <MORPH NAME=\"" << morph.name << "\">\n";
        for (const MorphRecordDef& r : morph.records)
          xml << "            <BLENDVERTEX VERTEXID=\"" << r.vertex << "\"><POSITION>" << r.dp[0]
              << " " << r.dp[1] << " " << r.dp[2] << "</POSITION><NORMAL>" << r.dn[0] << " "
              << r.dn[1] << " " << r.dn[2] << "</NORMAL><TEXCOORD>0 1</TEXCOORD></BLENDVERTEX>\n";
        xml << "        </MORPH>\n";
      }
    }
    xml << line << "\n";
    if (line.find("</NORM>") != std::string::npos)
      xml << "            <COLOR>0.5 0.5 0.5</COLOR>\n";
  }
  return xml.str();
}

// ---------------------------------------------------------------------------
// Morph animations

std::vector<MorphTrackDef> FaceTracks(const std::vector<MorphDef>& morphs, float& duration) {
  duration = 2.0f;
  // Per morph name, its keyframes over the loop.
  const std::pair<const char*, std::vector<std::pair<float, float>>> curves[] = {
      {"jaw_open", {{0.0f, 0.0f}, {0.4f, 1.0f}, {0.8f, 0.0f}, {1.2f, 0.6f}, {1.6f, 0.0f}}},
      {"brow_up", {{0.2f, 0.0f}, {0.7f, 1.0f}, {1.3f, 0.0f}}},
      {"e38182", {{1.0f, 0.0f}, {1.4f, 0.8f}, {1.9f, 0.0f}}},
      {"lift", {{0.0f, 0.0f}, {1.0f, 1.0f}, {2.0f, 0.0f}}},
  };
  std::vector<MorphTrackDef> tracks;
  std::vector<int> perSubmesh;
  for (const MorphDef& morph : morphs) {
    if (static_cast<size_t>(morph.submesh) >= perSubmesh.size())
      perSubmesh.resize(static_cast<size_t>(morph.submesh) + 1, 0);
    const int index = perSubmesh[static_cast<size_t>(morph.submesh)]++;
    for (const auto& [name, keys] : curves) {
      if (morph.name != name) continue;
      MorphTrackDef track;
      track.morphId = index;
      track.morphName = name;
      track.meshId = 0;
      track.submeshes = {morph.submesh};
      track.keyframes = keys;
      tracks.push_back(track);
    }
  }
  return tracks;
}

std::string MorphAnimationXml(const std::vector<MorphTrackDef>& tracks, float duration,
                              bool byName) {
  std::ostringstream xml;
  xml << "<HEADER MAGIC=\"XPF\" VERSION=\"1300\" />\n";
  xml << "<ANIMATION DURATION=\"" << duration << "\" NUMTRACKS=\"" << tracks.size() << "\">\n";
  for (const MorphTrackDef& track : tracks) {
    if (byName) {
      xml << "  <TRACK MORPHNAME=\"" << track.morphName << "\" NUMKEYFRAMES=\""
          << track.keyframes.size() << "\">\n";
    } else {
      xml << "  <TRACK MORPHID=\"" << track.morphId << "\" MESHID=\"" << track.meshId
          << "\" NUMKEYFRAMES=\"" << track.keyframes.size() << "\" NUMSUBTARGET=\""
          << track.submeshes.size() << "\">\n";
      for (int submesh : track.submeshes) xml << "    <SUBMESH ID=\"" << submesh << "\"/>\n";
    }
    for (const auto& [time, weight] : track.keyframes)
      xml << "    <KEYFRAME TIME=\"" << time << "\">\n      <WEIGHT>" << weight
          << "</WEIGHT>\n    </KEYFRAME>\n";
    xml << "  </TRACK>\n";
  }
  xml << "</ANIMATION>\n";
  return xml.str();
}

std::string MorphAnimationBinary(const std::vector<MorphTrackDef>& tracks, float duration,
                                 CpfLayout layout) {
  Bytes out;
  out.Header("CPF", 1301);
  out.Float(duration);
  out.Int(static_cast<int32_t>(tracks.size()));
  for (const MorphTrackDef& track : tracks) {
    if (layout == CpfLayout::Named)
      out.String(track.morphName);
    else
      out.Int(track.morphId);
    out.Int(static_cast<int32_t>(track.keyframes.size()));
    if (layout == CpfLayout::Saver) {
      out.Int(track.meshId);
      out.Int(static_cast<int32_t>(track.submeshes.size()));
      for (int submesh : track.submeshes) out.Int(submesh);
    }
    for (const auto& [time, weight] : track.keyframes) {
      out.Float(time);
      out.Float(weight);
    }
  }
  return out.Text();
}

// ---------------------------------------------------------------------------
// The characters

namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  Check(static_cast<bool>(out.flush()), "cannot write " + path.string());
}

const char* const kAnimations[] = {"idle", "walk", "wave", "jump"};
const char* const kMaterials[] = {"skin", "shirt", "trousers", "belt", "boots", "hair"};

// The 0.11 sample files the newer ones are written from.
struct Sample {
  CalCoreSkeletonPtr skeleton;
  std::vector<CalCoreAnimationPtr> animations;
  CalCoreMeshPtr body, gear;
  std::vector<CalCoreMaterialPtr> materials;
  std::vector<MorphDef> bodyMorphs, gearMorphs;

  explicit Sample(const fs::path& dir) {
    const auto path = [&dir](const std::string& file) { return (dir / file).string(); };
    skeleton = CalLoader::loadCoreSkeleton(path("hero.csf"));
    Check(skeleton, "cannot read hero.csf");
    for (const char* name : kAnimations) {
      animations.push_back(
          CalLoader::loadCoreAnimation(path(std::string(name) + ".caf"), skeleton.get()));
      Check(animations.back(), std::string("cannot read ") + name + ".caf");
    }
    body = CalLoader::loadCoreMesh(path("hero_body.cmf"));
    gear = CalLoader::loadCoreMesh(path("hero_gear.cmf"));
    Check(body && gear, "cannot read the hero's meshes");
    for (const char* name : kMaterials) {
      materials.push_back(CalLoader::loadCoreMaterial(path(std::string(name) + ".crf")));
      Check(materials.back(), std::string("cannot read ") + name + ".crf");
    }
    const float headLevel = HeadLevel({body.get(), gear.get()});
    bodyMorphs = FaceMorphs(*body, headLevel);
    gearMorphs = FaceMorphs(*gear, headLevel);
  }
  // Cal3D 0.11 frees an animation without its tracks.
  ~Sample() {
    for (CalCoreAnimationPtr& animation : animations) {
      if (!animation) continue;
      for (CalCoreTrack* track : animation->getListCoreTrack()) {
        track->destroy();
        delete track;
      }
      animation->getListCoreTrack().clear();
    }
  }
};

void WriteSkeletonsAndAnimations(const Sample& sample, const fs::path& newer) {
  CalCoreSkeleton& skeleton = *sample.skeleton;
  WriteFile(newer / "hero.1301.csf", SkeletonFile(skeleton, 1301, SkeletonLayout::Plain));
  WriteFile(newer / "hero.a1300.csf", SkeletonFile(skeleton, 1300, SkeletonLayout::AmbientLights));
  WriteFile(newer / "hero.l1300.csf", SkeletonFile(skeleton, 1300, SkeletonLayout::Lights));
  WriteFile(newer / "hero.1200.csf", SkeletonFile(skeleton, 1200, SkeletonLayout::AmbientLights));
  WriteFile(newer / "hero.915.csf", SkeletonFile(skeleton, 915, SkeletonLayout::AmbientLights));

  using AL = AnimationLayout;
  const auto animation = [&](const std::string& file, int index, int version, AL layout,
                             bool high = false) {
    WriteFile(newer / file, AnimationFile(*sample.animations[static_cast<size_t>(index)], skeleton,
                                          version, layout, high));
  };
  // The head's animations: compression flag, then track flags too.
  animation("idle.1300.caf", 0, 1300, AL::CompressionFlagPacked);
  animation("walk.1301.caf", 1, 1301, AL::FlagsPacked, true);
  animation("wave.1300 plain.caf", 2, 1300, AL::CompressionFlagPlain);
  animation("jump.1150.caf", 3, 1150, AL::Plain);
  // 2009-2017: both fields at 1300.
  animation("idle.a1300.caf", 0, 1300, AL::FlagsPacked);
  animation("walk.a1300.caf", 1, 1300, AL::FlagsPlain);
  // 0.12's 1200: track flags, min/scale tracks.
  animation("walk.1200.caf", 1, 1200, AL::U12MinScale);
  animation("idle.1200.caf", 0, 1200, AL::U12Plain);
  // The 911-919 lineage.
  animation("idle.911.caf", 0, 911, AL::Plain);
  animation("walk.913.caf", 1, 913, AL::LineagePacked);
  animation("wave.916.caf", 2, 916, AL::LineagePacked);
  animation("jump.917.caf", 3, 917, AL::LineagePacked, true);
  animation("walk.919.caf", 1, 919, AL::CompressionFlagPacked);
}

void WriteXmlMesh(const fs::path& dir, const Sample& sample, const fs::path& newer) {
  std::ifstream in(dir / "hero_body.xmf");
  std::ostringstream saved;
  saved << in.rdbuf();
  Check(static_cast<bool>(in), "cannot read hero_body.xmf");
  WriteFile(newer / "hero body.1300.xmf", MeshXml(saved.str(), sample.bodyMorphs));
}

void WriteMeshesAndMaterials(const Sample& sample, const fs::path& newer) {
  using ML = MeshLayout;
  const auto meshes = [&](const std::string& bodyFile, const std::string& gearFile, int version,
                          ML bodyLayout, ML gearLayout) {
    WriteFile(newer / bodyFile,
              MeshFile(*sample.body, version, bodyLayout,
                       bodyLayout == ML::Plain ? std::vector<MorphDef>{} : sample.bodyMorphs));
    WriteFile(newer / gearFile,
              MeshFile(*sample.gear, version, gearLayout,
                       gearLayout == ML::Plain ? std::vector<MorphDef>{} : sample.gearMorphs));
  };
  meshes("hero body.001.cmf", "hero gear.001.cmf", 1300, ML::Counted, ML::Counted);
  meshes("hero body.1301.cmf", "hero gear.1301.cmf", 1301, ML::Counted, ML::Counted);
  meshes("hero body.a1300.cmf", "hero gear.a1300.cmf", 1300, ML::ColoursEnded,
         ML::ColoursEndedAbsolute);
  meshes("hero body.e1300.cmf", "hero gear.e1300.cmf", 1300, ML::Ended, ML::Ended);
  meshes("hero body.1200.cmf", "hero gear.1200.cmf", 1200, ML::Plain, ML::ColoursEndedAbsolute);
  meshes("hero body.911.cmf", "hero gear.911.cmf", 911, ML::ColoursEndedAbsolute,
         ML::ColoursEndedAbsolute);

  // Map types from 1300 on, in the 911-919 lineage and at 1200 of 2008;
  // none at 0.12's 1200.
  for (size_t i = 0; i < sample.materials.size(); i++) {
    CalCoreMaterial& material = *sample.materials[i];
    const std::string name = kMaterials[i];
    WriteFile(newer / (name + " 1300.crf"), MaterialFile(material, 1300, true));
    WriteFile(newer / (name + ".1301.crf"), MaterialFile(material, 1301, true));
    WriteFile(newer / (name + ".1200.crf"), MaterialFile(material, 1200, i % 2 == 0));
    WriteFile(newer / (name + ".915.crf"), MaterialFile(material, 915, true));
  }
}

void WriteMorphAnimations(const Sample& sample, const fs::path& newer) {
  float duration = 0;
  const std::vector<MorphTrackDef> tracks = FaceTracks(sample.bodyMorphs, duration);
  WriteFile(newer / "face.xpf", MorphAnimationXml(tracks, duration, false));
  WriteFile(newer / "face named.XPF", MorphAnimationXml(tracks, duration, true));
  WriteFile(newer / "face.cpf", MorphAnimationBinary(tracks, duration, CpfLayout::Loader));
  WriteFile(newer / "face saver.cpf", MorphAnimationBinary(tracks, duration, CpfLayout::Saver));
  WriteFile(newer / "face named.cpf", MorphAnimationBinary(tracks, duration, CpfLayout::Named));
}

struct Config {
  const char* file;
  const char* comment;
  std::string skeleton;
  std::vector<std::string> animations, meshes, materials;
  std::string morphanim;
};

std::vector<std::string> EachMaterial(const std::string& suffix) {
  std::vector<std::string> files;
  for (const char* name : kMaterials) files.push_back("newer/" + std::string(name) + suffix);
  return files;
}

void WriteConfigs(const fs::path& dir) {
  const std::vector<std::string> plainAnimations = {"idle.caf", "walk.caf", "wave.caf", "jump.caf"};
  const Config configs[] = {
      {"newer-hero.cfg",
       "Skeleton and animations of 1100, meshes of 1300 with face morphs, a facial .xpf",
       "hero.csf",
       plainAnimations,
       {"newer/hero body.001.cmf", "newer/hero gear.001.cmf"},
       EachMaterial(" 1300.crf"),
       "newer/face.xpf"},
      {"newer-1301.cfg",
       "The newer line's head: 1301 and 1300 files, compressed tracks",
       "newer/hero.1301.csf",
       {"newer/idle.1300.caf", "newer/walk.1301.caf", "newer/wave.1300 plain.caf",
        "newer/jump.1150.caf"},
       {"newer/hero body.1301.cmf", "newer/hero gear.1301.cmf"},
       EachMaterial(".1301.crf"),
       "newer/face.cpf"},
      {"newer-a1300.cfg",
       "1300 as written from 2009 to 2017: lights, vertex colours, ended blocks",
       "newer/hero.a1300.csf",
       {"newer/idle.a1300.caf", "newer/walk.a1300.caf"},
       {"newer/hero body.a1300.cmf", "newer/hero gear.a1300.cmf"},
       EachMaterial(" 1300.crf"),
       "newer/face named.XPF"},
      {"newer-e1300.cfg",
       "1300 of March 2017: bone lights only, ended blocks without colours",
       "newer/hero.l1300.csf",
       {"newer/idle.1300.caf"},
       {"newer/hero body.e1300.cmf", "newer/hero gear.e1300.cmf"},
       EachMaterial(".1301.crf"),
       "newer/face saver.cpf"},
      {"newer-xml.cfg",
       "An XML body of 1300 with vertex colours and MORPH elements, a facial .xpf",
       "hero.csf",
       plainAnimations,
       {"newer/hero body.1300.xmf", "hero_gear.cmf"},
       EachMaterial(" 1300.crf"),
       "newer/face.xpf"},
      {"newer-1200.cfg",
       "1200 of 0.12 (track flags, min/scale tracks) and of 2008",
       "newer/hero.1200.csf",
       {"newer/walk.1200.caf", "newer/idle.1200.caf"},
       {"newer/hero body.1200.cmf", "newer/hero gear.1200.cmf"},
       EachMaterial(".1200.crf"),
       ""},
      {"newer-lineage.cfg",
       "The 911-919 lineage",
       "newer/hero.915.csf",
       {"newer/idle.911.caf", "newer/walk.913.caf", "newer/wave.916.caf", "newer/jump.917.caf",
        "newer/walk.919.caf"},
       {"newer/hero body.911.cmf", "newer/hero gear.911.cmf"},
       EachMaterial(".915.crf"),
       "newer/face named.cpf"},
  };
  for (const Config& config : configs) {
    std::ostringstream text;
    text << "# " << config.comment << "\nscale = 1.0\nskeleton = " << config.skeleton << "\n";
    for (const std::string& file : config.animations) text << "animation = " << file << "\n";
    for (const std::string& file : config.meshes) text << "mesh = " << file << "\n";
    for (const std::string& file : config.materials) text << "material = " << file << "\n";
    if (!config.morphanim.empty()) text << "morphanim = " << config.morphanim << "\n";
    WriteFile(dir / config.file, text.str());
  }
}

}  // namespace

void WriteNewerCharacters(const std::string& dirName) {
  const fs::path dir(dirName);
  const fs::path newer = dir / "newer";
  fs::create_directories(newer);
  const Sample sample(dir);
  WriteSkeletonsAndAnimations(sample, newer);
  WriteMeshesAndMaterials(sample, newer);
  WriteXmlMesh(dir, sample, newer);
  WriteMorphAnimations(sample, newer);
  WriteConfigs(dir);
}

}  // namespace rwsample
