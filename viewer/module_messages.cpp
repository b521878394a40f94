#include "viewer/module_messages.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace rwview {
namespace {

// While alive, standard output goes to `target`.
class StdoutDiversion {
 public:
  explicit StdoutDiversion(int target) {
    std::cout.flush();
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    if (saved_ >= 0) dup2(target, STDOUT_FILENO);
  }
  ~StdoutDiversion() {
    std::cout.flush();
    std::fflush(stdout);
    if (saved_ < 0) return;
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }
  StdoutDiversion(const StdoutDiversion&) = delete;
  StdoutDiversion& operator=(const StdoutDiversion&) = delete;

 private:
  int saved_ = -1;
};

}  // namespace

std::string RunAside(bool show, const std::function<void()>& step, const char* passed) {
  // An unnamed file: nothing is left in the temporary folder, whatever happens.
  std::FILE* messages = std::tmpfile();
  {
    StdoutDiversion diversion(show || messages == nullptr ? STDERR_FILENO : fileno(messages));
    step();
  }
  std::string last;
  if (messages == nullptr) return last;
  std::rewind(messages);
  char line[512];
  while (std::fgets(line, sizeof line, messages) != nullptr) {
    std::string text(line);
    text.erase(text.find_last_not_of("\r\n") + 1);
    if (!text.empty()) last = text;
    if (passed != nullptr && text.find(passed) != std::string::npos)
      std::fprintf(stderr, "%s\n", text.c_str());
  }
  std::fclose(messages);
  return last;
}

}  // namespace rwview
