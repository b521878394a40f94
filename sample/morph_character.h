// The sample character with a face of expressions built as Cal3D 0.11 morph
// targets: whole copies of its body mesh with the face moved, each written
// with Cal3D's saver and added to the body by a "blendmesh =" line.
#pragma once

#include <string>

namespace rwsample {

// The expressions, in the order of their blendmesh lines: each is the file
// hero_body_NAME.cmf and the morph target NAME of every sub-mesh of the body.
constexpr const char* kExpressions[] = {"smile", "blink", "jaw_open"};

// Writes hero-morph.cfg (hero.cfg with a blendmesh line per expression) and
// the expressions' meshes into `dir`, reading hero.cfg and hero_body.cmf
// already there. Throws on failure.
void WriteMorphCharacter(const std::string& dir);

}  // namespace rwsample
