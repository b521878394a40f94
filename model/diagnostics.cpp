#include "model/diagnostics.h"

#include <iostream>

#include "formats/message_text.h"

namespace rigweave {

const char kClassId[] = "crystalspace.mesh.object.rigweave";

void Diagnose(const char* message, std::string_view detail) {
  const ClippedText clipped = ClipForMessage(detail);
  std::cout << kClassId << message << clipped.head;
  if (clipped.omitted != 0)
    std::cout << "[... " << clipped.omitted << " bytes ...]" << clipped.tail;
  std::cout << std::endl;
}

}  // namespace rigweave
