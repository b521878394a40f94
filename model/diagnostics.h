// The module's one kind of output: a line on standard output, headed by the
// class id the engine knows the module's mesh objects by (kRigweaveClassId).
#pragma once

#include <string>
#include <string_view>

namespace rigweave {

// Prints one diagnostic line: the class id, the message (which begins with
// ": ") and the detail, then flushes. A detail longer than
// kMaxMessageDetail (formats/message_text.h) keeps its start and its end.
// The line is written whole, so lines from threads drawing at once never
// interleave.
void Diagnose(const char* message, std::string_view detail = {});

// Writes lines kept by a DiagnosticLog, as one write.
void DiagnoseAgain(const std::string& lines);

// While one lives, the lines its thread diagnoses are also kept in it, so
// that a load that shares what an earlier load made can say what it said.
class DiagnosticLog {
 public:
  DiagnosticLog();
  ~DiagnosticLog();
  DiagnosticLog(const DiagnosticLog&) = delete;
  DiagnosticLog& operator=(const DiagnosticLog&) = delete;
  const std::string& Lines() const { return lines_; }

 private:
  friend void Diagnose(const char*, std::string_view);
  std::string lines_;
  DiagnosticLog* outer_;
};

}  // namespace rigweave
