#include "support/output.h"

#include <fcntl.h>
#include <unistd.h>

#include <iostream>
#include <stdexcept>

namespace rwtest {

CapturedOutput::CapturedOutput(Keep keep) {
  std::cout.flush();
  std::fflush(stdout);
  keep_ = keep;
  file_ = keep == Keep::Text ? std::tmpfile() : std::fopen("/dev/null", "w");
  saved_ = dup(STDOUT_FILENO);
  if (file_ == nullptr || saved_ < 0 || dup2(fileno(file_), STDOUT_FILENO) < 0)
    throw std::runtime_error("standard output cannot be captured");
}

CapturedOutput::~CapturedOutput() {
  Restore();
  if (file_ != nullptr) std::fclose(file_);
}

void CapturedOutput::Restore() {
  if (saved_ < 0) return;
  std::cout.flush();
  std::fflush(stdout);
  dup2(saved_, STDOUT_FILENO);
  close(saved_);
  saved_ = -1;
}

std::string CapturedOutput::Text() {
  if (saved_ < 0) return text_;
  Restore();
  std::rewind(file_);
  char buffer[4096];
  size_t got;
  while (keep_ == Keep::Text && (got = std::fread(buffer, 1, sizeof buffer, file_)) > 0)
    text_.append(buffer, got);
  std::fclose(file_);
  file_ = nullptr;
  return text_;
}

}  // namespace rwtest
