#include "model/diagnostics.h"

#include <iostream>

#include "ical3dstate.h"

namespace rigweave {

void Diagnose(const char* message, std::string_view detail) {
  std::cout << kRigweaveClassId << message << detail << std::endl;
}

}  // namespace rigweave
