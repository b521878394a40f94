#include "model/diagnostics.h"

#include <iostream>

#include "formats/message_text.h"
#include "ical3dstate.h"

namespace rigweave {

void Diagnose(const char* message, std::string_view detail) {
  const ClippedText clipped = ClipForMessage(detail);
  std::cout << kRigweaveClassId << message << clipped.head;
  if (clipped.omitted != 0)
    std::cout << "[... " << clipped.omitted << " bytes ...]" << clipped.tail;
  std::cout << std::endl;
}

}  // namespace rigweave
