// XML Cal3D files as exporters and Cal3D's own saver write them. What the
// module reads from one must be what Cal3D's XML reader reads from it, and,
// up to the six digits the saver prints, what Cal3D reads from the binary
// file it was saved from. What Cal3D's XML reader would crash on is refused.
#include <cal3d/cal3d.h>
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdint>
#include <string>
#include <vector>

#include "formats/cal3d_check.h"
#include "formats/whole_file.h"
#include "formats/cal3d_objects.h"
#include "formats/cal3d_xml.h"
#include "support/cal3d_compare.h"
#include "support/files.h"
#include "support/model_folder.h"
#include "support/stage_fixture.h"

namespace {

using rigweave::Cal3DKind;
using rwtest::ModelFolder;
using rwtest::ReadBytes;
using Bytes = std::vector<uint8_t>;

const std::string kModels = std::string(RIGWEAVE_BUILD_DIR) + "/models/";
// The saver prints six significant digits.
constexpr float kSaverPrecision = 1e-5f;

int BoneCount(CalCoreSkeleton* skeleton) {
  return static_cast<int>(skeleton->getVectorCoreBone().size());
}

// Cal3D's objects as the module makes them from a file's bytes.
struct Read {
  CalCoreSkeletonPtr skeleton;
  CalCoreAnimationPtr animation;
  CalCoreMeshPtr mesh;
  CalCoreMaterialPtr material;
  std::string reason;
};

Read ReadLikeTheModule(const std::string& name, Cal3DKind kind, Bytes bytes,
                       CalCoreSkeleton* skeleton) {
  Read read;
  const int bones = skeleton ? BoneCount(skeleton) : 0;
  const rigweave::Cal3DCheck check = rigweave::PrepareCal3DFile(name, kind, bytes, bones);
  if (!check.Ok()) {
    read.reason = check.reason;
    return read;
  }
  switch (kind) {
    case Cal3DKind::Skeleton:
      read.skeleton = rigweave::ReadCoreSkeleton(bytes);
      break;
    case Cal3DKind::Animation:
      read.animation = rigweave::ReadCoreAnimation(bytes, skeleton);
      break;
    case Cal3DKind::Mesh:
      read.mesh = rigweave::ReadCoreMesh(bytes, rigweave::NamesCal3DXmlFile(name, kind));
      break;
    case Cal3DKind::Material:
      read.material = rigweave::ReadCoreMaterial(bytes);
      break;
  }
  read.reason = "ok";
  return read;
}

// What Cal3D's own readers make of a file (by its name's extension).
Read ReadLikeCal3D(const std::string& path, Cal3DKind kind, CalCoreSkeleton* skeleton) {
  Read read;
  switch (kind) {
    case Cal3DKind::Skeleton:
      read.skeleton = CalLoader::loadCoreSkeleton(path);
      break;
    case Cal3DKind::Animation:
      read.animation = CalLoader::loadCoreAnimation(path, skeleton);
      break;
    case Cal3DKind::Mesh:
      read.mesh = CalLoader::loadCoreMesh(path);
      break;
    case Cal3DKind::Material:
      read.material = CalLoader::loadCoreMaterial(path);
      break;
  }
  return read;
}

bool Save(const Read& read, Cal3DKind kind, const std::string& path) {
  switch (kind) {
    case Cal3DKind::Skeleton:
      return CalSaver::saveCoreSkeleton(path, read.skeleton.get());
    case Cal3DKind::Animation:
      return CalSaver::saveCoreAnimation(path, read.animation.get());
    case Cal3DKind::Mesh:
      return CalSaver::saveCoreMesh(path, read.mesh.get());
    case Cal3DKind::Material:
      break;
  }
  return CalSaver::saveCoreMaterial(path, read.material.get());
}

void ExpectSame(Read& expected, Read& actual, Cal3DKind kind, float tolerance) {
  switch (kind) {
    case Cal3DKind::Skeleton:
      ASSERT_TRUE(expected.skeleton && actual.skeleton);
      rwtest::ExpectSameSkeleton(*expected.skeleton, *actual.skeleton, tolerance);
      break;
    case Cal3DKind::Animation:
      ASSERT_TRUE(expected.animation && actual.animation);
      rwtest::ExpectSameAnimation(*expected.animation, *actual.animation, tolerance);
      break;
    case Cal3DKind::Mesh:
      ASSERT_TRUE(expected.mesh && actual.mesh);
      rwtest::ExpectSameMesh(*expected.mesh, *actual.mesh, tolerance);
      break;
    case Cal3DKind::Material:
      ASSERT_TRUE(expected.material && actual.material);
      rwtest::ExpectSameMaterial(*expected.material, *actual.material, tolerance);
      break;
  }
}

void Release(Read& read) {
  if (read.animation) rigweave::FreeTracks(*read.animation);
}

struct SampleFile {
  const char* binary;
  const char* xml;
  Cal3DKind kind;
};
const SampleFile kSamples[] = {
    {"hero.csf", "hero.xsf", Cal3DKind::Skeleton},
    {"idle.caf", "idle.xaf", Cal3DKind::Animation},
    {"walk.caf", "walk.xaf", Cal3DKind::Animation},
    {"wave.caf", "wave.xaf", Cal3DKind::Animation},
    {"jump.caf", "jump.xaf", Cal3DKind::Animation},
    {"hero_body.cmf", "hero_body.xmf", Cal3DKind::Mesh},
    {"hero_gear.cmf", "hero_gear.xmf", Cal3DKind::Mesh},
    {"large.cmf", "large.xmf", Cal3DKind::Mesh},
    {"skin.crf", "skin.xrf", Cal3DKind::Material},
    {"belt.crf", "belt.xrf", Cal3DKind::Material},
    {"hair.crf", "hair.xrf", Cal3DKind::Material},
};

TEST(XmlFiles, EverySampleFileReadsAsCal3DReadsItInBothForms) {
  ModelFolder folder;
  CalCoreSkeletonPtr skeleton = CalLoader::loadCoreSkeleton(kModels + "hero.csf");
  ASSERT_TRUE(skeleton);
  for (const SampleFile& sample : kSamples) {
    SCOPED_TRACE(sample.binary);
    const std::string binaryPath = kModels + sample.binary;
    Read fromBinary = ReadLikeCal3D(binaryPath, sample.kind, skeleton.get());
    ASSERT_TRUE(Save(fromBinary, sample.kind, folder.Path(sample.xml)));

    // The binary file, read as the module reads it, is what Cal3D reads.
    Read ours =
        ReadLikeTheModule(sample.binary, sample.kind, ReadBytes(binaryPath), skeleton.get());
    ASSERT_EQ(ours.reason, "ok");
    ExpectSame(fromBinary, ours, sample.kind, 0);

    // The XML file saved from it: exactly what Cal3D's XML reader reads,
    // and the binary file's content up to the saver's digits.
    Read oursXml = ReadLikeTheModule(sample.xml, sample.kind, ReadBytes(folder.Path(sample.xml)),
                                     skeleton.get());
    ASSERT_EQ(oursXml.reason, "ok");
    Read cal3dXml = ReadLikeCal3D(folder.Path(sample.xml), sample.kind, skeleton.get());
    ExpectSame(cal3dXml, oursXml, sample.kind, 0);
    ExpectSame(fromBinary, oursXml, sample.kind, kSaverPrecision);
    for (Read* read : {&fromBinary, &ours, &oursXml, &cal3dXml}) Release(*read);
  }
}

// Files written by hand in the shapes exporters leave: the older layout
// with a HEADER element, level-of-detail data, two texture sets, springs,
// maps of other kinds, declarations, comments, entities, CR LF lines.
struct Handwritten {
  const char* what;
  const char* name;
  Cal3DKind kind;
  const char* text;
};

const Handwritten kHandwritten[] = {
    {"material of version 910 with a bump map", "paladin.xrf", Cal3DKind::Material,
     "<HEADER MAGIC=\"XRF\" VERSION=\"910\" />\r\n"
     "<MATERIAL NUMMAPS=\"2\">\r\n"
     "    <AMBIENT>255 255 255 0</AMBIENT>\r\n"
     "    <DIFFUSE>255 255 255 0</DIFFUSE>\r\n"
     "    <SPECULAR>0 0 0 0</SPECULAR>\r\n"
     "    <SHININESS>0</SHININESS>\r\n"
     "    <MAP>paladin_body.tga</MAP>\r\n"
     "    <MAP>paladin_body_bump.dds</MAP>\r\n"
     "</MATERIAL>\r\n"},
    {"material of version 900 without maps", "plain.xrf", Cal3DKind::Material,
     "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
     "<!-- exported -->\n"
     "<HEADER MAGIC=\"XRF\" VERSION=\"900\" />\n"
     "<MATERIAL NUMMAPS=\"0\">\n"
     "  <AMBIENT>30 30 30 255</AMBIENT><DIFFUSE>200 10 10 255</DIFFUSE>\n"
     "  <SPECULAR>255 255 255 255</SPECULAR><SHININESS>12.5</SHININESS>\n"
     "</MATERIAL>\n"},
    {"material of Cal3D 0.11's saver, names with entities", "saved.xrf", Cal3DKind::Material,
     "<MATERIAL VERSION=\"1100\" NUMMAPS=\"1\">\n"
     "  <ambient>1 2 3 4</ambient><diffuse>5 6 7 8</diffuse><specular>9 10 11 12</specular>\n"
     "  <shininess>0.25</shininess><map> maps/rock &amp; moss.png </map>\n"
     "</MATERIAL>\n"},
    {"skeleton of version 910", "paladin.xsf", Cal3DKind::Skeleton,
     "<HEADER MAGIC=\"XSF\" VERSION=\"910\" />\n"
     "<SKELETON NUMBONES=\"3\">\n"
     "  <BONE ID=\"0\" NAME=\"Bip01\" NUMCHILDS=\"1\">\n"
     "    <TRANSLATION>0.5 -1.25e-3 90</TRANSLATION>\n"
     "    <ROTATION>0 0 0.707107 0.707107</ROTATION>\n"
     "    <LOCALTRANSLATION>-0.5 0 -90</LOCALTRANSLATION>\n"
     "    <LOCALROTATION>0 0 -0.707107 0.707107</LOCALROTATION>\n"
     "    <PARENTID>-1</PARENTID>\n"
     "    <CHILDID>1</CHILDID>\n"
     "  </BONE>\n"
     "  <BONE ID=\"1\" NAME=\"Bip01 Spine\" NUMCHILDS=\"1\">\n"
     "    <TRANSLATION>10 0 0</TRANSLATION><ROTATION>0 0 0 1</ROTATION>\n"
     "    <LOCALTRANSLATION>-100 0 0</LOCALTRANSLATION><LOCALROTATION>0 0 0 1</LOCALROTATION>\n"
     "    <PARENTID>0</PARENTID><CHILDID>2</CHILDID>\n"
     "  </BONE>\n"
     "  <BONE ID=\"2\" NAME=\"Bip01 Head\" NUMCHILDS=\"0\">\n"
     "    <TRANSLATION>+20 0 0</TRANSLATION><ROTATION>0 0.1 0 0.994987</ROTATION>\n"
     "    <LOCALTRANSLATION>-120 0 0</LOCALTRANSLATION><LOCALROTATION>0 0 0 1</LOCALROTATION>\n"
     "    <PARENTID>1</PARENTID>\n"
     "  </BONE>\n"
     "</SKELETON>\n"},
    {"animation of version 910", "paladin_walk.xaf", Cal3DKind::Animation,
     "<HEADER MAGIC=\"XAF\" VERSION=\"910\" />\n"
     "<ANIMATION DURATION=\"1.2\" NUMTRACKS=\"2\">\n"
     "  <TRACK BONEID=\"0\" NUMKEYFRAMES=\"2\">\n"
     "    <KEYFRAME TIME=\"0\"><TRANSLATION>0 0 90</TRANSLATION>"
     "<ROTATION>0 0 0 1</ROTATION></KEYFRAME>\n"
     "    <KEYFRAME TIME=\"1.2\"><TRANSLATION>0 -30 90</TRANSLATION>"
     "<ROTATION>0 0 0.258819 0.965926</ROTATION></KEYFRAME>\n"
     "  </TRACK>\n"
     "  <TRACK BONEID=\"2\" NUMKEYFRAMES=\"1\">\n"
     "    <KEYFRAME TIME=\"0.6\"><TRANSLATION>20 0 0</TRANSLATION>"
     "<ROTATION>0 0 0 1</ROTATION></KEYFRAME>\n"
     "  </TRACK>\n"
     "</ANIMATION>\n"},
    // Four vertices, all collapsible: 3 onto 2 takes the second face, 2 onto
    // 0 the first, 1 is left without faces and 0 is the root.
    {"mesh of version 910 with collapse roots, two texture sets and springs", "paladin.xmf",
     Cal3DKind::Mesh,
     "<HEADER MAGIC=\"XMF\" VERSION=\"910\" />\n"
     "<MESH NUMSUBMESH=\"2\">\n"
     "  <SUBMESH NUMVERTICES=\"4\" NUMFACES=\"2\" NUMLODSTEPS=\"4\" NUMSPRINGS=\"1\""
     " NUMTEXCOORDS=\"2\" MATERIAL=\"0\">\n"
     "    <VERTEX ID=\"0\" NUMINFLUENCES=\"2\"><POS>0 0 0</POS><NORM>0 0 1</NORM>"
     "<COLLAPSEID>-1</COLLAPSEID><COLLAPSECOUNT>0</COLLAPSECOUNT>"
     "<TEXCOORD>0 0</TEXCOORD><TEXCOORD>0.5 0.5</TEXCOORD>"
     "<INFLUENCE ID=\"0\">0.75</INFLUENCE><INFLUENCE ID=\"1\">0.25</INFLUENCE>"
     "<PHYSIQUE>0</PHYSIQUE></VERTEX>\n"
     "    <VERTEX ID=\"1\" NUMINFLUENCES=\"1\"><POS>1 0 0</POS><NORM>0 0 1</NORM>"
     "<COLLAPSEID>0</COLLAPSEID><COLLAPSECOUNT>0</COLLAPSECOUNT>"
     "<TEXCOORD>1 0</TEXCOORD><TEXCOORD>1 0.5</TEXCOORD>"
     "<INFLUENCE ID=\"1\">1</INFLUENCE><PHYSIQUE>1</PHYSIQUE></VERTEX>\n"
     "    <VERTEX ID=\"2\" NUMINFLUENCES=\"1\"><POS>1 1 0</POS><NORM>0 0 1</NORM>"
     "<COLLAPSEID>0</COLLAPSEID><COLLAPSECOUNT>1</COLLAPSECOUNT>"
     "<TEXCOORD>1 1</TEXCOORD><TEXCOORD>1 1</TEXCOORD>"
     "<INFLUENCE ID=\"2\">1</INFLUENCE><PHYSIQUE>0.5</PHYSIQUE></VERTEX>\n"
     "    <VERTEX ID=\"3\" NUMINFLUENCES=\"1\"><POS>0 1 0</POS><NORM>0 0 1</NORM>"
     "<COLLAPSEID>2</COLLAPSEID><COLLAPSECOUNT>1</COLLAPSECOUNT>"
     "<TEXCOORD>0 1</TEXCOORD><TEXCOORD>0.5 1</TEXCOORD>"
     "<INFLUENCE ID=\"2\">1</INFLUENCE><PHYSIQUE>0.5</PHYSIQUE></VERTEX>\n"
     "    <SPRING VERTEXID=\"1 3\" COEF=\"25\" LENGTH=\"1.41421\" />\n"
     "    <FACE VERTEXID=\"0 1 2\" />\n"
     "    <FACE VERTEXID=\"0 2 3\" />\n"
     "  </SUBMESH>\n"
     // Without level-of-detail elements or springs; the face winds with its
     // normals, which Cal3D's binary reader would turn round and its XML
     // reader keeps.
     "  <SUBMESH NUMVERTICES=\"3\" NUMFACES=\"1\" NUMLODSTEPS=\"0\" NUMSPRINGS=\"0\" "
     "NUMTEXCOORDS=\"0\" MATERIAL=\"1\">\n"
     "    <VERTEX ID=\"0\" NUMINFLUENCES=\"1\"><POS>0 0 0</POS><NORM>0 0 1</NORM>"
     "<INFLUENCE ID=\"0\">1</INFLUENCE></VERTEX>\n"
     "    <VERTEX ID=\"1\" NUMINFLUENCES=\"1\"><POS>1 0 0</POS><NORM>0 0 1</NORM>"
     "<INFLUENCE ID=\"0\">1</INFLUENCE></VERTEX>\n"
     "    <VERTEX ID=\"2\" NUMINFLUENCES=\"1\"><POS>0 1 0</POS><NORM>0 0 1</NORM>"
     "<INFLUENCE ID=\"0\">1</INFLUENCE></VERTEX>\n"
     "    <FACE VERTEXID=\"0 2 1\" />\n"
     "  </SUBMESH>\n"
     "</MESH>\n"},
};

TEST(XmlFiles, ExportedShapesReadExactlyAsCal3DsXmlReaderReadsThem) {
  ModelFolder folder;
  CalCoreSkeletonPtr skeleton;
  for (const Handwritten& file : kHandwritten) {
    SCOPED_TRACE(file.what);
    folder.WriteFile(file.name, file.text);
    Read ours =
        ReadLikeTheModule(file.name, file.kind, ReadBytes(folder.Path(file.name)), skeleton.get());
    ASSERT_EQ(ours.reason, "ok");
    Read cal3d = ReadLikeCal3D(folder.Path(file.name), file.kind, skeleton.get());
    ExpectSame(cal3d, ours, file.kind, 0);
    if (file.kind == Cal3DKind::Skeleton) skeleton = ours.skeleton;
    if (file.kind == Cal3DKind::Material) {
      EXPECT_EQ(ours.material->getMapCount(), cal3d.material->getMapCount());
    }
    Release(ours);
    Release(cal3d);
  }
}

// Cal3D's XML reader crashes on a sub-mesh without NUMLODSTEPS or
// NUMSPRINGS (it converts a null text); files without level-of-detail data
// or springs may leave them out, and they read as 0.
TEST(XmlFiles, MissingLevelOfDetailAndSpringCountsReadAsZero) {
  const std::string with =
      "<MESH NUMSUBMESH=\"1\"><SUBMESH NUMVERTICES=\"1\" NUMFACES=\"1\" NUMLODSTEPS=\"0\" "
      "NUMSPRINGS=\"0\" NUMTEXCOORDS=\"0\" MATERIAL=\"0\"><VERTEX NUMINFLUENCES=\"0\">"
      "<POS>0 0 0</POS><NORM>0 0 1</NORM></VERTEX><FACE VERTEXID=\"0 0 0\"/></SUBMESH></MESH>";
  std::string without = with;
  for (const char* count : {" NUMLODSTEPS=\"0\"", " NUMSPRINGS=\"0\""})
    without.erase(without.find(count), std::string(count).size());
  Bytes a, b;
  ASSERT_EQ(rigweave::ConvertXmlToBinary(
                Cal3DKind::Mesh, reinterpret_cast<const uint8_t*>(with.data()), with.size(), a),
            nullptr);
  ASSERT_EQ(
      rigweave::ConvertXmlToBinary(
          Cal3DKind::Mesh, reinterpret_cast<const uint8_t*>(without.data()), without.size(), b),
      nullptr);
  EXPECT_EQ(a, b);
}

// Editors on Windows put a byte-order mark before the first element. Cal3D's
// XML reader refuses such a file; it is read as the same file without it.
TEST(XmlFiles, AByteOrderMarkChangesNothing) {
  for (const Handwritten& file : kHandwritten) {
    SCOPED_TRACE(file.what);
    const std::string text = file.text;
    const std::string marked = "\xEF\xBB\xBF" + text;
    Bytes plain, withMark;
    ASSERT_EQ(rigweave::ConvertXmlToBinary(file.kind, reinterpret_cast<const uint8_t*>(text.data()),
                                           text.size(), plain),
              nullptr);
    ASSERT_EQ(
        rigweave::ConvertXmlToBinary(file.kind, reinterpret_cast<const uint8_t*>(marked.data()),
                                     marked.size(), withMark),
        nullptr);
    EXPECT_EQ(plain, withMark);
  }
}

TEST(XmlFiles, TheOlderLayoutAndTheSaversLayoutGiveTheSameMaterial) {
  const std::string body =
      "<AMBIENT>1 2 3 4</AMBIENT><DIFFUSE>5 6 7 8</DIFFUSE><SPECULAR>9 10 11 12</SPECULAR>"
      "<SHININESS>3</SHININESS><MAP>a.tga</MAP><MAP>b.dds</MAP></MATERIAL>";
  Bytes older, saver;
  const std::string olderText =
      "<HEADER MAGIC=\"XRF\" VERSION=\"910\"/><MATERIAL NUMMAPS=\"2\">" + body;
  const std::string saverText = "<MATERIAL VERSION=\"1100\" NUMMAPS=\"2\">" + body;
  ASSERT_EQ(rigweave::ConvertXmlToBinary(Cal3DKind::Material,
                                         reinterpret_cast<const uint8_t*>(olderText.data()),
                                         olderText.size(), older),
            nullptr);
  ASSERT_EQ(rigweave::ConvertXmlToBinary(Cal3DKind::Material,
                                         reinterpret_cast<const uint8_t*>(saverText.data()),
                                         saverText.size(), saver),
            nullptr);
  EXPECT_EQ(older, saver);
  EXPECT_EQ(rigweave::CheckMaterial(saver.data(), saver.size()).reason, nullptr);
}

struct Refused {
  const char* what;
  Cal3DKind kind;
  std::string text;
  const char* reason;
};

std::string Repeated(const std::string& text, int times) {
  std::string all;
  for (int i = 0; i < times; i++) all += text;
  return all;
}

std::string Bone(const std::string& inner) {
  return "<SKELETON><BONE NAME=\"b\">" + inner + "</BONE></SKELETON>";
}
const std::string kPose =
    "<TRANSLATION>0 0 0</TRANSLATION><ROTATION>0 0 0 1</ROTATION>"
    "<LOCALTRANSLATION>0 0 0</LOCALTRANSLATION><LOCALROTATION>0 0 0 1</LOCALROTATION>";
std::string Vertex(const std::string& inner, int influences = 1) {
  return "<MESH NUMSUBMESH=\"1\"><SUBMESH NUMVERTICES=\"1\" NUMFACES=\"1\" NUMTEXCOORDS=\"0\" "
         "MATERIAL=\"0\"><VERTEX NUMINFLUENCES=\"" +
         std::to_string(influences) + "\">" + inner +
         "</VERTEX><FACE VERTEXID=\"0 0 0\"/></SUBMESH></MESH>";
}
const std::string kMaterialHead =
    "<MATERIAL><AMBIENT>0 0 0 0</AMBIENT><DIFFUSE>0 0 0 0</DIFFUSE><SPECULAR>0 0 0 0</SPECULAR>";

TEST(XmlFiles, WhatCal3DsXmlReaderTripsOnIsRefusedWithAReason) {
  const std::string sane = "<POS>0 0 0</POS><NORM>0 0 1</NORM><INFLUENCE ID=\"0\">1</INFLUENCE>";
  // A material of exactly `tags` tags ('<' in a comment count, as the
  // budget is counted before parsing) or of exactly `bytes` bytes.
  const std::string material = kMaterialHead + "<SHININESS>1</SHININESS></MATERIAL>";
  const size_t materialTags =
      static_cast<size_t>(std::count(material.begin(), material.end(), '<'));
  const auto tagged = [&](size_t tags) {
    return "<!--" + std::string(tags - materialTags - 1, '<') + "-->" + material;
  };
  const auto sized = [&](size_t bytes) {
    return material + std::string(bytes - material.size(), ' ');
  };
  const std::vector<Refused> cases = {
      {"as many tags as an XML file may hold", Cal3DKind::Material, tagged(rigweave::kMaxXmlTags),
       "ok"},
      {"one tag more", Cal3DKind::Material, tagged(rigweave::kMaxXmlTags + 1),
       "XML file of more than 2097152 tags"},
      {"as large as an XML file may be", Cal3DKind::Material, sized(rigweave::kMaxXmlFileBytes),
       "ok"},
      {"one byte larger", Cal3DKind::Material, sized(rigweave::kMaxXmlFileBytes + 1),
       "XML file larger than 64 MiB"},
      {"empty file", Cal3DKind::Material, "", "malformed XML"},
      {"cut short", Cal3DKind::Material, kMaterialHead + "<SHININESS>1</SHI", "malformed XML"},
      {"a binary file under an XML name", Cal3DKind::Material, std::string("CRF\0\x4c\x04\0\0", 8),
       "malformed XML"},
      {"nested past any depth a file needs", Cal3DKind::Skeleton, Repeated("<BONE>", 5000),
       "malformed XML"},
      {"header without magic (Cal3D reads a null name)", Cal3DKind::Material,
       "<HEADER VERSION=\"910\"/><MATERIAL/>", "not an XML Cal3D file of this kind"},
      {"header without version", Cal3DKind::Material, "<HEADER MAGIC=\"XRF\"/><MATERIAL/>",
       "unsupported file version"},
      {"header of another kind", Cal3DKind::Material,
       "<HEADER MAGIC=\"XSF\" VERSION=\"910\"/><MATERIAL/>", "not an XML Cal3D file of this kind"},
      {"version before 699", Cal3DKind::Material, "<MATERIAL VERSION=\"600\"/>",
       "unsupported file version"},
      {"root of another kind", Cal3DKind::Mesh, kMaterialHead + "</MATERIAL>",
       "not an XML Cal3D file of this kind"},
      {"bone without a name (Cal3D builds a string from null)", Cal3DKind::Skeleton,
       "<SKELETON><BONE>" + kPose + "<PARENTID>-1</PARENTID></BONE></SKELETON>",
       "bone without NAME"},
      {"bone without its translation", Cal3DKind::Skeleton, Bone("<PARENTID>-1</PARENTID>"),
       "bad or missing bone TRANSLATION"},
      {"translation of two numbers (Cal3D leaves one unset)", Cal3DKind::Skeleton,
       Bone("<TRANSLATION>0 0</TRANSLATION>"), "bad or missing bone TRANSLATION"},
      {"translation of four numbers (Cal3D runs into the next value)", Cal3DKind::Skeleton,
       Bone("<TRANSLATION>0 0 0 7</TRANSLATION>"), "bad or missing bone TRANSLATION"},
      {"translation that is no number", Cal3DKind::Skeleton,
       Bone("<TRANSLATION>0 x 0</TRANSLATION>"), "bad or missing bone TRANSLATION"},
      {"empty parent id", Cal3DKind::Skeleton, Bone(kPose + "<PARENTID/>"),
       "bad or missing bone PARENTID"},
      {"parent past the bones", Cal3DKind::Skeleton, Bone(kPose + "<PARENTID>4</PARENTID>"),
       "bone parent out of range"},
      {"child element of another kind", Cal3DKind::Skeleton,
       Bone(kPose + "<PARENTID>-1</PARENTID><CHILD>1</CHILD>"), "bad bone CHILDID"},
      {"no bones", Cal3DKind::Skeleton, "<SKELETON NUMBONES=\"1\"/>", "no bones"},
      {"animation without a track count", Cal3DKind::Animation, "<ANIMATION DURATION=\"1\"/>",
       "bad or missing NUMTRACKS"},
      {"fewer tracks than counted", Cal3DKind::Animation,
       "<ANIMATION DURATION=\"1\" NUMTRACKS=\"1000000000\"><TRACK BONEID=\"0\" NUMKEYFRAMES=\"1\">"
       "<KEYFRAME TIME=\"0\"><TRANSLATION>0 0 0</TRANSLATION><ROTATION>0 0 0 1</ROTATION>"
       "</KEYFRAME></TRACK></ANIMATION>",
       "missing or misplaced TRACK"},
      {"keyframe without time", Cal3DKind::Animation,
       "<ANIMATION DURATION=\"1\" NUMTRACKS=\"1\"><TRACK BONEID=\"0\" NUMKEYFRAMES=\"1\">"
       "<KEYFRAME><TRANSLATION>0 0 0</TRANSLATION><ROTATION>0 0 0 1</ROTATION></KEYFRAME>"
       "</TRACK></ANIMATION>",
       "bad or missing keyframe TIME"},
      {"track of a bone past the skeleton", Cal3DKind::Animation,
       "<ANIMATION DURATION=\"1\" NUMTRACKS=\"1\"><TRACK BONEID=\"5\" NUMKEYFRAMES=\"1\">"
       "<KEYFRAME TIME=\"0\"><TRANSLATION>0 0 0</TRANSLATION><ROTATION>0 0 0 1</ROTATION>"
       "</KEYFRAME></TRACK></ANIMATION>",
       "track bone out of range"},
      {"fewer vertices than counted", Cal3DKind::Mesh,
       "<MESH NUMSUBMESH=\"1\"><SUBMESH NUMVERTICES=\"2000000000\" NUMFACES=\"0\" "
       "NUMTEXCOORDS=\"0\" MATERIAL=\"0\"><VERTEX NUMINFLUENCES=\"0\"><POS>0 0 0</POS>"
       "<NORM>0 0 1</NORM></VERTEX></SUBMESH></MESH>",
       "missing or misplaced VERTEX"},
      {"sub-mesh without a vertex count", Cal3DKind::Mesh,
       "<MESH NUMSUBMESH=\"1\"><SUBMESH NUMFACES=\"0\" NUMTEXCOORDS=\"0\" MATERIAL=\"0\"/></MESH>",
       "bad or missing sub-mesh NUMVERTICES"},
      {"collapse id without its count", Cal3DKind::Mesh,
       Vertex("<POS>0 0 0</POS><NORM>0 0 1</NORM><COLLAPSEID>-1</COLLAPSEID>"
              "<INFLUENCE ID=\"0\">1</INFLUENCE>"),
       "bad or missing vertex COLLAPSECOUNT"},
      {"influence without its bone id", Cal3DKind::Mesh,
       Vertex("<POS>0 0 0</POS><NORM>0 0 1</NORM><INFLUENCE>1</INFLUENCE>"), "bad INFLUENCE"},
      {"influence of a bone past the skeleton", Cal3DKind::Mesh,
       Vertex("<POS>0 0 0</POS><NORM>0 0 1</NORM><INFLUENCE ID=\"9\">1</INFLUENCE>"),
       "influence bone out of range"},
      {"empty normal (Cal3D reads a null text)", Cal3DKind::Mesh,
       Vertex("<POS>0 0 0</POS><NORM/><INFLUENCE ID=\"0\">1</INFLUENCE>"),
       "bad or missing vertex NORM"},
      {"face past the vertices", Cal3DKind::Mesh,
       "<MESH NUMSUBMESH=\"1\"><SUBMESH NUMVERTICES=\"1\" NUMFACES=\"1\" NUMTEXCOORDS=\"0\" "
       "MATERIAL=\"0\"><VERTEX NUMINFLUENCES=\"1\">" +
           sane + "</VERTEX><FACE VERTEXID=\"0 0 1\"/></SUBMESH></MESH>",
       "face index out of range"},
      {"face of two corners", Cal3DKind::Mesh,
       "<MESH NUMSUBMESH=\"1\"><SUBMESH NUMVERTICES=\"1\" NUMFACES=\"1\" NUMTEXCOORDS=\"0\" "
       "MATERIAL=\"0\"><VERTEX NUMINFLUENCES=\"1\">" +
           sane + "</VERTEX><FACE VERTEXID=\"0 0\"/></SUBMESH></MESH>",
       "bad FACE"},
      {"spring without its length", Cal3DKind::Mesh,
       "<MESH NUMSUBMESH=\"1\"><SUBMESH NUMVERTICES=\"1\" NUMFACES=\"0\" NUMTEXCOORDS=\"0\" "
       "NUMSPRINGS=\"1\" MATERIAL=\"0\"><VERTEX NUMINFLUENCES=\"1\">" +
           sane +
           "<PHYSIQUE>1</PHYSIQUE></VERTEX><SPRING VERTEXID=\"0 0\" COEF=\"1\"/>"
           "</SUBMESH></MESH>",
       "bad SPRING"},
      {"springs without the vertices' physique", Cal3DKind::Mesh,
       "<MESH NUMSUBMESH=\"1\"><SUBMESH NUMVERTICES=\"1\" NUMFACES=\"0\" NUMTEXCOORDS=\"0\" "
       "NUMSPRINGS=\"1\" MATERIAL=\"0\"><VERTEX NUMINFLUENCES=\"1\">" +
           sane + "</VERTEX><SPRING VERTEXID=\"0 0\" COEF=\"1\" LENGTH=\"1\"/></SUBMESH></MESH>",
       "bad or missing vertex PHYSIQUE"},
      {"material without shininess", Cal3DKind::Material, kMaterialHead + "</MATERIAL>",
       "bad or missing material SHININESS"},
      {"empty map (Cal3D reads a null text)", Cal3DKind::Material,
       kMaterialHead + "<SHININESS>1</SHININESS><MAP/></MATERIAL>", "bad material MAP"},
      {"element other than a map after the shininess", Cal3DKind::Material,
       kMaterialHead + "<SHININESS>1</SHININESS><MAPS>a</MAPS></MATERIAL>", "bad material MAP"},
  };
  for (const Refused& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes bytes(c.text.begin(), c.text.end());
    const char* names[] = {"a.xsf", "a.xaf", "a.xmf", "a.xrf"};
    const rigweave::Cal3DCheck check =
        rigweave::PrepareCal3DFile(names[static_cast<int>(c.kind)], c.kind, bytes, 1);
    EXPECT_EQ(check.reason == nullptr ? std::string("ok") : check.reason, c.reason);
  }
}

}  // namespace
