#include "support/cal3d_compare.h"

#include <cal3d/corekeyframe.h>
#include <cal3d/coretrack.h>
#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <string>

namespace rwtest {
namespace {

void ExpectNear(float expected, float actual, float tolerance, const std::string& what) {
  if (tolerance == 0) {
    EXPECT_EQ(expected, actual) << what;
  } else {
    EXPECT_LE(std::fabs(expected - actual), tolerance * std::fabs(expected) + 1e-12f) << what;
  }
}

void ExpectNear(const CalVector& e, const CalVector& a, float tolerance, const std::string& what) {
  ExpectNear(e.x, a.x, tolerance, what + ".x");
  ExpectNear(e.y, a.y, tolerance, what + ".y");
  ExpectNear(e.z, a.z, tolerance, what + ".z");
}

void ExpectNear(const CalQuaternion& e, const CalQuaternion& a, float tolerance,
                const std::string& what) {
  ExpectNear(e.x, a.x, tolerance, what + ".x");
  ExpectNear(e.y, a.y, tolerance, what + ".y");
  ExpectNear(e.z, a.z, tolerance, what + ".z");
  ExpectNear(e.w, a.w, tolerance, what + ".w");
}

void ExpectSameColour(const CalCoreMaterial::Color& e, const CalCoreMaterial::Color& a,
                      const std::string& what) {
  EXPECT_EQ(e.red, a.red) << what;
  EXPECT_EQ(e.green, a.green) << what;
  EXPECT_EQ(e.blue, a.blue) << what;
  EXPECT_EQ(e.alpha, a.alpha) << what;
}

}  // namespace

void ExpectSameSkeleton(CalCoreSkeleton& expected, CalCoreSkeleton& actual, float tolerance) {
  std::vector<CalCoreBone*>& e = expected.getVectorCoreBone();
  std::vector<CalCoreBone*>& a = actual.getVectorCoreBone();
  ASSERT_EQ(e.size(), a.size()) << "bone count";
  for (size_t i = 0; i < e.size(); i++) {
    const std::string bone = "bone " + std::to_string(i);
    EXPECT_EQ(e[i]->getName(), a[i]->getName()) << bone;
    EXPECT_EQ(e[i]->getParentId(), a[i]->getParentId()) << bone;
    EXPECT_EQ(e[i]->getListChildId(), a[i]->getListChildId()) << bone;
    ExpectNear(e[i]->getTranslation(), a[i]->getTranslation(), tolerance, bone + " translation");
    ExpectNear(e[i]->getRotation(), a[i]->getRotation(), tolerance, bone + " rotation");
    ExpectNear(e[i]->getTranslationBoneSpace(), a[i]->getTranslationBoneSpace(), tolerance,
               bone + " bone-space translation");
    ExpectNear(e[i]->getRotationBoneSpace(), a[i]->getRotationBoneSpace(), tolerance,
               bone + " bone-space rotation");
  }
  EXPECT_EQ(expected.getVectorRootCoreBoneId(), actual.getVectorRootCoreBoneId()) << "roots";
}

void ExpectSameAnimation(CalCoreAnimation& expected, CalCoreAnimation& actual, float tolerance) {
  ExpectNear(expected.getDuration(), actual.getDuration(), tolerance, "duration");
  std::list<CalCoreTrack*>& e = expected.getListCoreTrack();
  std::list<CalCoreTrack*>& a = actual.getListCoreTrack();
  ASSERT_EQ(e.size(), a.size()) << "track count";
  int t = 0;
  for (auto i = e.begin(), j = a.begin(); i != e.end(); ++i, ++j, ++t) {
    const std::string track = "track " + std::to_string(t);
    EXPECT_EQ((*i)->getCoreBoneId(), (*j)->getCoreBoneId()) << track;
    ASSERT_EQ((*i)->getCoreKeyframeCount(), (*j)->getCoreKeyframeCount()) << track;
    for (int k = 0; k < (*i)->getCoreKeyframeCount(); k++) {
      CalCoreKeyframe* ek = (*i)->getCoreKeyframe(k);
      CalCoreKeyframe* ak = (*j)->getCoreKeyframe(k);
      const std::string key = track + " keyframe " + std::to_string(k);
      ExpectNear(ek->getTime(), ak->getTime(), tolerance, key + " time");
      ExpectNear(ek->getTranslation(), ak->getTranslation(), tolerance, key + " translation");
      ExpectNear(ek->getRotation(), ak->getRotation(), tolerance, key + " rotation");
    }
  }
}

void ExpectSameMesh(CalCoreMesh& expected, CalCoreMesh& actual, float tolerance) {
  ASSERT_EQ(expected.getCoreSubmeshCount(), actual.getCoreSubmeshCount()) << "sub-mesh count";
  for (int s = 0; s < expected.getCoreSubmeshCount(); s++) {
    CalCoreSubmesh& e = *expected.getCoreSubmesh(s);
    CalCoreSubmesh& a = *actual.getCoreSubmesh(s);
    const std::string sub = "sub-mesh " + std::to_string(s);
    EXPECT_EQ(e.getCoreMaterialThreadId(), a.getCoreMaterialThreadId()) << sub;
    EXPECT_EQ(e.getLodCount(), a.getLodCount()) << sub;
    ASSERT_EQ(e.getVertexCount(), a.getVertexCount()) << sub;
    for (int v = 0; v < e.getVertexCount(); v++) {
      const CalCoreSubmesh::Vertex& ev = e.getVectorVertex()[static_cast<size_t>(v)];
      const CalCoreSubmesh::Vertex& av = a.getVectorVertex()[static_cast<size_t>(v)];
      const std::string vertex = sub + " vertex " + std::to_string(v);
      ExpectNear(ev.position, av.position, tolerance, vertex + " position");
      ExpectNear(ev.normal, av.normal, tolerance, vertex + " normal");
      EXPECT_EQ(ev.collapseId, av.collapseId) << vertex;
      EXPECT_EQ(ev.faceCollapseCount, av.faceCollapseCount) << vertex;
      ASSERT_EQ(ev.vectorInfluence.size(), av.vectorInfluence.size()) << vertex;
      for (size_t i = 0; i < ev.vectorInfluence.size(); i++) {
        EXPECT_EQ(ev.vectorInfluence[i].boneId, av.vectorInfluence[i].boneId) << vertex;
        ExpectNear(ev.vectorInfluence[i].weight, av.vectorInfluence[i].weight, tolerance,
                   vertex + " weight");
      }
      if (::testing::Test::HasFatalFailure()) return;
    }
    auto& et = e.getVectorVectorTextureCoordinate();
    auto& at = a.getVectorVectorTextureCoordinate();
    ASSERT_EQ(et.size(), at.size()) << sub << " texture coordinate sets";
    for (size_t set = 0; set < et.size(); set++) {
      ASSERT_EQ(et[set].size(), at[set].size()) << sub;
      for (size_t v = 0; v < et[set].size(); v++) {
        ExpectNear(et[set][v].u, at[set][v].u, tolerance, sub + " u");
        ExpectNear(et[set][v].v, at[set][v].v, tolerance, sub + " v");
      }
    }
    ASSERT_EQ(e.getFaceCount(), a.getFaceCount()) << sub;
    for (int f = 0; f < e.getFaceCount(); f++) {
      const CalCoreSubmesh::Face& ef = e.getVectorFace()[static_cast<size_t>(f)];
      const CalCoreSubmesh::Face& af = a.getVectorFace()[static_cast<size_t>(f)];
      for (int k = 0; k < 3; k++) EXPECT_EQ(ef.vertexId[k], af.vertexId[k]) << sub << " face " << f;
    }
    ASSERT_EQ(e.getSpringCount(), a.getSpringCount()) << sub;
    for (int i = 0; i < e.getSpringCount(); i++) {
      const CalCoreSubmesh::Spring& es = e.getVectorSpring()[static_cast<size_t>(i)];
      const CalCoreSubmesh::Spring& as = a.getVectorSpring()[static_cast<size_t>(i)];
      EXPECT_EQ(es.vertexId[0], as.vertexId[0]) << sub << " spring " << i;
      EXPECT_EQ(es.vertexId[1], as.vertexId[1]) << sub << " spring " << i;
      ExpectNear(es.springCoefficient, as.springCoefficient, tolerance, sub + " spring");
      ExpectNear(es.idleLength, as.idleLength, tolerance, sub + " spring");
    }
    auto& ep = e.getVectorPhysicalProperty();
    auto& ap = a.getVectorPhysicalProperty();
    ASSERT_EQ(ep.size(), ap.size()) << sub;
    for (size_t i = 0; i < ep.size(); i++)
      ExpectNear(ep[i].weight, ap[i].weight, tolerance, sub + " physique");
  }
}

void ExpectSameMaterial(CalCoreMaterial& expected, CalCoreMaterial& actual, float tolerance) {
  ExpectSameColour(expected.getAmbientColor(), actual.getAmbientColor(), "ambient");
  ExpectSameColour(expected.getDiffuseColor(), actual.getDiffuseColor(), "diffuse");
  ExpectSameColour(expected.getSpecularColor(), actual.getSpecularColor(), "specular");
  ExpectNear(expected.getShininess(), actual.getShininess(), tolerance, "shininess");
  ASSERT_EQ(expected.getMapCount(), actual.getMapCount()) << "map count";
  for (int m = 0; m < expected.getMapCount(); m++)
    EXPECT_EQ(expected.getMapFilename(m), actual.getMapFilename(m)) << "map " << m;
}

}  // namespace rwtest
