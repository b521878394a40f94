// The module's one kind of output: a line on standard output, headed by the
// class id the engine knows the module's mesh objects by (kRigweaveClassId).
#pragma once

#include <string_view>

namespace rigweave {

// Prints one diagnostic line: the class id, the message (which begins with
// ": ") and the detail, then flushes. A detail longer than
// kMaxMessageDetail (formats/message_text.h) keeps its start and its end.
void Diagnose(const char* message, std::string_view detail = {});

}  // namespace rigweave
