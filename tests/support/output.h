// What the process writes to its standard output, where the module prints
// its diagnostics, taken away from the test's own log while one of these
// lives.
#pragma once

#include <cstdio>
#include <string>

namespace rwtest {

class CapturedOutput {
 public:
  enum class Keep { Text, Nothing };
  // Keep::Nothing drops what is written, for long runs that only need quiet.
  explicit CapturedOutput(Keep keep = Keep::Text);
  ~CapturedOutput();
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;

  // Ends the capture: what was written since it began ("" when dropped).
  // Later calls return the same text.
  std::string Text();

 private:
  void Restore();

  Keep keep_;
  std::FILE* file_ = nullptr;
  int saved_ = -1;
  std::string text_;
};

}  // namespace rwtest
