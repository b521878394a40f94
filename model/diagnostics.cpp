#include "model/diagnostics.h"

#include <iostream>

namespace rigweave {

const char kClassId[] = "crystalspace.mesh.object.rigweave";

void Diagnose(const char* message, std::string_view detail) {
  std::cout << kClassId << message << detail << std::endl;
}

}  // namespace rigweave
