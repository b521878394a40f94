#include "sample/body.h"

#include "sample/skeleton.h"

namespace rwsample {
namespace {

const Vec3 kUp{0, 0, 1};
const Vec3 kBack{0, 1, 0};  // texture seams go at the back, away from the camera
const UvRect kWhole{0, 0, 1, 1};

int Segments(int base, double detail) {
  return std::max(4, static_cast<int>(base * detail + 0.5));
}

void Add(Submesh& mesh, const Surface& surface, int u, int v, double detail, UvRect uv,
         const Weighting& weighting, bool periodicV = false) {
  AddSurface(mesh, surface, Segments(u, detail), Segments(v, detail), uv, weighting, periodicV);
}

// z, depth (along y) and half-width (along x) of the shirt's torso.
const std::vector<ProfileRow> kTorso = {
    {46.8, 0, 0},    {48, 6.0, 9.0},   {52, 6.0, 9.2},  {56, 5.9, 9.0},
    {62, 6.4, 9.8},  {68, 7.0, 10.8},  {74, 7.0, 11.6}, {78, 6.6, 12.0},
    {81, 6.0, 11.6}, {83.5, 5.0, 8.5}, {85, 3.8, 4.5},  {85.6, 0, 0},
};

const std::vector<ProfileRow> kPelvis = {
    {41.5, 0, 0},    {42.5, 4.5, 6.0}, {44, 6.3, 9.0},   {47, 7.0, 10.2},
    {50, 7.0, 10.4}, {53, 6.6, 9.9},   {55.5, 6.5, 9.6}, {56.2, 0, 0},
};

// Distance from the shoulder, depth, width.
const std::vector<ProfileRow> kSleeve = {
    {0, 3.9, 3.7}, {9, 3.4, 3.3}, {18, 2.9, 2.9}, {26, 3.0, 2.9}, {33.5, 2.4, 2.3},
};

// Distance from the hip joint down the leg.
const std::vector<ProfileRow> kTrouserLeg = {
    {0, 5.2, 5.0},  {8, 5.0, 4.9},  {18, 4.1, 4.0}, {22, 3.9, 3.9},
    {28, 4.2, 4.0}, {36, 3.3, 3.3}, {42, 2.9, 2.9}, {44, 2.8, 2.8},
};

// The shaft closes just inside the trouser leg, so the trousers seem tucked
// into the boot.
const std::vector<ProfileRow> kBootShaft = {
    {0.3, 0, 0},    {0.6, 4.0, 3.9},  {2, 4.3, 4.2}, {8, 4.2, 4.1},
    {11, 4.2, 4.1}, {12.2, 3.6, 3.5}, {12.8, 0, 0},
};

void AddArm(Submesh& mesh, double side, double detail) {
  using namespace joints;
  const int upper = side > 0 ? kUpperArmL : kUpperArmR;
  const Axis axis = MakeAxis(Shoulder(side), ArmDirection(side), kBack);
  Add(mesh, Lathe(axis, RoundEnds(kSleeve, 4)), 14, 24, detail, {0, 0, 1, 0.4},
      Chain({Shoulder(side), Elbow(side), Wrist(side), HandTip(side)},
            {upper, upper + 1, upper + 2}, 2.5));
}

void AddHand(Submesh& mesh, double side, double detail) {
  using namespace joints;
  const int forearm = side > 0 ? kForearmL : kForearmR;
  const Vec3 along = ArmDirection(side);
  const Weighting weighting =
      Chain({Elbow(side), Wrist(side), HandTip(side)}, {forearm, forearm + 1}, 1.2);
  // A mitten: the palm faces the thigh, the thumb points forward and down.
  const Axis palm = MakeAxis(Wrist(side) + 4.3 * along, along, kBack);
  Add(mesh, Ellipsoid(palm, 4.9, 2.5, 1.4), 12, 10, detail, {0, 0, 1, 0.25}, weighting);
  const Axis thumb =
      MakeAxis(Wrist(side) + 2.6 * along + Vec3{0, -1.9, 0}, along + Vec3{0, -0.6, 0}, kBack);
  Add(mesh, Ellipsoid(thumb, 2.2, 0.9, 0.8), 8, 6, detail, {0, 0, 1, 0.25}, weighting);
}

void AddLeg(Submesh& mesh, double side, double detail) {
  using namespace joints;
  const int thigh = side > 0 ? kThighL : kThighR;
  const Axis axis = MakeAxis(Hip(side), Knee(side) - Hip(side), kBack);
  Add(mesh, Lathe(axis, RoundEnds(kTrouserLeg, 4)), 16, 30, detail, {0, 0, 1, 0.8},
      Chain({Hip(side), Knee(side), Ankle(side)}, {thigh, thigh + 1}, 3.0));
}

void AddBoot(Submesh& mesh, double side, double detail) {
  using namespace joints;
  const int shin = side > 0 ? kShinL : kShinR;
  const Axis shaft = MakeAxis({5 * side, 0.5, 0}, kUp, kBack);
  Add(mesh, Lathe(shaft, kBootShaft), 14, 8, detail, {0, 0.5, 1, 1},
      Chain({Knee(side), Ankle(side), Toe(side)}, {shin, shin + 1}, 2.5));
  const Axis foot = MakeAxis({5 * side, -3.3, 2.6}, {0, -1, 0}, kUp);
  Add(mesh, Ellipsoid(foot, 7.2, 2.6, 3.7), 14, 10, detail, {0, 0, 1, 0.5}, Rigid(shin + 1));
}

}  // namespace

const UvRect kHeadUv{0, 0.25, 1, 1};

Surface HeadSurface() {
  return Ellipsoid(MakeAxis({0, -0.5, 91.5}, kUp, kBack), 9, 8, 7);
}

void AddPiece(Submesh& mesh, Piece piece, double detail) {
  const UvRect plainSkin{0, 0, 1, 0.25};
  switch (piece) {
    case Piece::Head:
      Add(mesh, HeadSurface(), 24, 18, detail, kHeadUv, Rigid(kHead));
      return;
    case Piece::Face:
      Add(mesh, Ellipsoid(MakeAxis({0, -8.3, 90.6}, kUp, kBack), 1.8, 1.4, 1.0), 10, 6, detail,
          plainSkin, Rigid(kHead));
      for (double side : {1.0, -1.0})
        Add(mesh, Ellipsoid(MakeAxis({6.8 * side, 0.4, 91.2}, kUp, kBack), 2.4, 1.6, 0.9), 10, 6,
            detail, plainSkin, Rigid(kHead));
      return;
    case Piece::Neck:
      Add(mesh,
          Lathe(MakeAxis({0, 0, 78}, kUp, kBack), RoundEnds({{0, 3.4, 3.6}, {11, 3.3, 3.5}}, 3)),
          14, 8, detail, plainSkin,
          Chain({{0, 0, 68}, {0, 0, 83}, {0, 0, 88}, {0, 0, 100}}, {kChest, kNeck, kHead}, 2.5));
      return;
    case Piece::Hands:
      for (double side : {1.0, -1.0}) AddHand(mesh, side, detail);
      return;
    case Piece::Torso:
      Add(mesh, Lathe(MakeAxis({0, 0, 0}, kUp, kBack), kTorso), 28, 24, detail, {0, 0.4, 1, 1},
          Chain({{0, 0, 52}, {0, 0, 58}, {0, 0, 68}, {0, 0, 86}}, {kHips, kSpine, kChest}, 3.0));
      return;
    case Piece::Arms:
      for (double side : {1.0, -1.0}) AddArm(mesh, side, detail);
      return;
    case Piece::Pelvis:
      Add(mesh, Lathe(MakeAxis({0, 0, 0}, kUp, kBack), kPelvis), 28, 8, detail, {0, 0.8, 1, 1},
          Rigid(kHips));
      return;
    case Piece::Legs:
      for (double side : {1.0, -1.0}) AddLeg(mesh, side, detail);
      return;
    case Piece::Belt:
      Add(mesh, Torus(MakeAxis({0, 0, 54.5}, kUp, kBack), 6.9, 10.0, 0.8, 1.4), 32, 6, detail,
          kWhole, Rigid(kHips), true);
      return;
    case Piece::Boots:
      for (double side : {1.0, -1.0}) AddBoot(mesh, side, detail);
      return;
    case Piece::Hair:
      // A second, larger ellipsoid set up and back: it swallows the top and
      // back of the head and leaves the face, the nape and the ears showing.
      Add(mesh, Ellipsoid(MakeAxis({0, 0.6, 93.2}, kUp, kBack), 8.6, 8.1, 7.4), 24, 16, detail,
          kWhole, Rigid(kHead));
      return;
  }
}

Submesh MakeSubmesh(Material material, const std::vector<Piece>& pieces, double detail) {
  Submesh mesh;
  mesh.materialThread = material;
  for (Piece piece : pieces) AddPiece(mesh, piece, detail);
  return mesh;
}

}  // namespace rwsample
