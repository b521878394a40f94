#include "sample/cal3d_files.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace rwsample {
namespace {

std::string ColourText(const CalCoreMaterial::Color& c) {
  std::ostringstream out;
  out << int{c.red} << ' ' << int{c.green} << ' ' << int{c.blue} << ' ' << int{c.alpha};
  return out.str();
}

}  // namespace

void StampBinaryVersion(const std::string& path, int version) {
  std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
  char magic[4] = {};
  if (!file.read(magic, 4)) throw std::runtime_error("cannot read " + path);
  if (magic[3] != '\0') throw std::runtime_error(path + " is not a binary Cal3D file");
  const uint32_t bits = static_cast<uint32_t>(version);
  const char bytes[4] = {static_cast<char>(bits & 0xff), static_cast<char>((bits >> 8) & 0xff),
                         static_cast<char>((bits >> 16) & 0xff),
                         static_cast<char>((bits >> 24) & 0xff)};
  file.seekp(4);
  if (!file.write(bytes, 4) || !file.flush()) throw std::runtime_error("cannot write " + path);
}

CalCoreMaterialPtr ToCalMaterial(const MaterialDef& def) {
  CalCoreMaterialPtr core = new CalCoreMaterial();
  core->setName(def.name);
  core->setAmbientColor(def.ambient);
  core->setDiffuseColor(def.diffuse);
  core->setSpecularColor(def.specular);
  core->setShininess(def.shininess);
  core->reserve(static_cast<int>(def.maps.size()));
  for (size_t i = 0; i < def.maps.size(); i++) {
    CalCoreMaterial::Map map;
    map.strFilename = def.maps[i];
    map.userData = nullptr;
    core->setMap(static_cast<int>(i), map);
  }
  return core;
}

std::string HeaderLayoutMaterialXml(const MaterialDef& def, int version) {
  std::ostringstream out;
  out << "<HEADER MAGIC=\"XRF\" VERSION=\"" << version << "\" />\n";
  out << "<MATERIAL NUMMAPS=\"" << def.maps.size() << "\">\n";
  out << "    <AMBIENT>" << ColourText(def.ambient) << "</AMBIENT>\n";
  out << "    <DIFFUSE>" << ColourText(def.diffuse) << "</DIFFUSE>\n";
  out << "    <SPECULAR>" << ColourText(def.specular) << "</SPECULAR>\n";
  out << "    <SHININESS>" << def.shininess << "</SHININESS>\n";
  for (const std::string& map : def.maps) out << "    <MAP>" << map << "</MAP>\n";
  out << "</MATERIAL>\n";
  return out.str();
}

}  // namespace rwsample
