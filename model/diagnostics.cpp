#include "model/diagnostics.h"

#include <cstdio>
#include <iostream>
#include <mutex>

#include "formats/message_text.h"
#include "ical3dstate.h"

namespace rigweave {

namespace {

std::mutex& OutputMutex() {
  static std::mutex mutex;
  return mutex;
}

thread_local DiagnosticLog* currentLog = nullptr;

void Write(std::string_view text) {
  std::lock_guard<std::mutex> hold(OutputMutex());
  std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
  std::cout.flush();
}

}  // namespace

DiagnosticLog::DiagnosticLog() : outer_(currentLog) {
  currentLog = this;
}

DiagnosticLog::~DiagnosticLog() {
  currentLog = outer_;
}

void Diagnose(const char* message, std::string_view detail) {
  const ClippedText clipped = ClipForMessage(detail);
  char omitted[48] = "";
  if (clipped.omitted != 0)
    std::snprintf(omitted, sizeof omitted, "[... %zu bytes ...]", clipped.omitted);
  const std::string_view parts[] = {kRigweaveClassId,
                                    message,
                                    clipped.head,
                                    omitted,
                                    clipped.omitted != 0 ? clipped.tail : std::string_view(),
                                    "\n"};
  // Lines drawing says fit here, so that a frame allocates nothing.
  char line[512];
  size_t length = 0;
  for (std::string_view part : parts) length += part.size();
  std::string longLine;
  char* at = line;
  if (length > sizeof line) {
    longLine.resize(length);
    at = &longLine[0];
  }
  size_t used = 0;
  for (std::string_view part : parts) {
    part.copy(at + used, part.size());
    used += part.size();
  }
  if (currentLog != nullptr) currentLog->lines_.append(at, length);
  Write({at, length});
}

void DiagnoseAgain(const std::string& lines) {
  if (!lines.empty()) Write(lines);
}

}  // namespace rigweave
