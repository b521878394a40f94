// The module's one kind of output: a line on standard output, headed by the
// class id the engine knows the module's mesh objects by.
#pragma once

#include <string_view>

namespace rigweave {

extern const char kClassId[];

// Prints one diagnostic line: the class id, the message (which begins with
// ": ") and the detail, then flushes. A detail longer than
// kMaxMessageDetail (formats/message_text.h) keeps its start and its end.
void Diagnose(const char* message, std::string_view detail = {});

}  // namespace rigweave
