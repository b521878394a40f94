#include "sample/prop.h"

#include <cal3d/cal3d.h>

#include <fstream>
#include <stdexcept>
#include <vector>

#include "formats/raw_texture.h"
#include "sample/cal3d_files.h"
#include "sample/mesh_builder.h"

namespace rwsample {
namespace {

// Model units, as the sample character's (about 100 to its height). The
// bone is at the origin, the grip's centre a palm further along +x and the
// blade runs on along +x: hung with no offset on a hand bone (Cal3D's hand
// bones start at the wrist and run towards the finger tips along their x
// axis), the grip lies in the palm and the blade points on from the hand.
constexpr double kPalm = 4.5, kGripLength = 9, kBladeLength = 40;

enum Part { kSteel, kBrass, kLeather, kPartCount };
const char* const kPartNames[kPartCount] = {"sword_steel", "sword_brass", "sword_leather"};
const uint8_t kPartColours[kPartCount][3] = {{112, 122, 138}, {201, 150, 46}, {92, 52, 28}};

void Check(bool ok, const std::string& what) {
  if (!ok) throw std::runtime_error(what);
}

// A flat plain texture of the part's colour, with a faint stripe along v so
// that a picture shows it is textured.
void WriteTexture(const std::string& path, const uint8_t colour[3]) {
  constexpr int kSide = 16;
  std::vector<uint8_t> rgb;
  for (int y = 0; y < kSide; y++)
    for (int x = 0; x < kSide; x++)
      for (int c = 0; c < 3; c++)
        rgb.push_back(static_cast<uint8_t>(colour[c] * (x == kSide / 2 ? 0.8 : 1.0)));
  const std::vector<uint8_t> bytes =
      rigweave::EncodeRawTexture({kSide, kSide, 3}, rgb.data(), false);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  Check(!bytes.empty() && static_cast<bool>(out.flush()), "cannot write " + path);
}

CalCoreSkeletonPtr SwordSkeleton() {
  CalCoreSkeletonPtr skeleton = new CalCoreSkeleton();
  auto* bone = new CalCoreBone("grip");
  bone->setParentId(-1);
  bone->setCoreSkeleton(skeleton.get());
  bone->setTranslation(CalVector(0, 0, 0));
  bone->setRotation(CalQuaternion());
  bone->setTranslationBoneSpace(CalVector(0, 0, 0));
  bone->setRotationBoneSpace(CalQuaternion());
  skeleton->addCoreBone(bone);
  skeleton->calculateState();
  return skeleton;
}

std::vector<Submesh> SwordParts() {
  const Vec3 along{1, 0, 0}, seam{0, 0, 1};
  const UvRect whole{0, 0, 1, 1};
  std::vector<Submesh> parts(kPartCount);
  for (int part = 0; part < kPartCount; part++)
    parts[static_cast<size_t>(part)].materialThread = part;
  // The blade: broad and thin, tapering to a point.
  const Axis blade = MakeAxis({kPalm + kGripLength / 2 + 1, 0, 0}, along, seam);
  AddSurface(
      parts[kSteel],
      Lathe(blade,
            {{0, 0, 0}, {0.01, 2.2, 0.45}, {kBladeLength * 0.8, 1.8, 0.4}, {kBladeLength, 0, 0}}),
      12, 16, whole, Rigid(0));
  // The guard across the blade's root, and the pommel.
  const Axis guard = MakeAxis({kPalm + kGripLength / 2 + 0.5, 0, 0}, {0, 0, 1}, along);
  AddSurface(parts[kBrass], Ellipsoid(guard, 5.5, 1.0, 1.0), 10, 10, whole, Rigid(0));
  const Axis pommel = MakeAxis({kPalm - kGripLength / 2 - 0.8, 0, 0}, along, seam);
  AddSurface(parts[kBrass], Ellipsoid(pommel, 1.5, 1.5, 1.5), 10, 8, whole, Rigid(0));
  // The grip.
  const Axis grip = MakeAxis({kPalm - kGripLength / 2, 0, 0}, along, seam);
  AddSurface(parts[kLeather], Lathe(grip, RoundEnds({{0, 1.1, 1.1}, {kGripLength, 1.1, 1.1}}, 3)),
             10, 12, whole, Rigid(0));
  return parts;
}

}  // namespace

void WriteSword(const std::string& dir, const std::function<void(Submesh&)>& addLevelOfDetail) {
  auto path = [&](const std::string& file) { return dir + "/" + file; };
  const CalCoreSkeletonPtr skeleton = SwordSkeleton();
  Check(CalSaver::saveCoreSkeleton(path("sword.csf"), skeleton.get()), "cannot write sword.csf");
  CalCoreMeshPtr mesh = new CalCoreMesh();
  mesh->setName("sword");
  for (Submesh& part : SwordParts()) {
    addLevelOfDetail(part);
    mesh->addCoreSubmesh(ToCalSubmesh(part));
  }
  Check(CalSaver::saveCoreMesh(path("sword.cmf"), mesh.get()), "cannot write sword.cmf");
  std::ofstream config(path("sword.cfg"), std::ios::trunc);
  config << "# A prop for the sample character: hang it on a hand,\n"
            "# rigweave-view --attach hand_r=sword.cfg\n"
            "scale = 1.0\nskeleton = sword.csf\nmesh = sword.cmf\n";
  for (int part = 0; part < kPartCount; part++) {
    const std::string name = kPartNames[part];
    WriteTexture(path(name + ".raw"), kPartColours[part]);
    MaterialDef def;
    def.name = name;
    def.ambient = {170, 170, 170, 255};
    def.diffuse = {255, 255, 255, 255};
    def.specular = {90, 90, 90, 255};
    def.shininess = 24;
    def.maps.push_back(name + ".raw");
    const CalCoreMaterialPtr material = ToCalMaterial(def);
    Check(CalSaver::saveCoreMaterial(path(name + ".crf"), material.get()),
          "cannot write " + name + ".crf");
    config << "material = " << name << ".crf\n";
  }
  Check(static_cast<bool>(config.flush()), "cannot write sword.cfg");
}

}  // namespace rwsample
