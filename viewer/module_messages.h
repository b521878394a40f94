// The module reports its loading on standard output. While the viewer calls
// into it, those lines are kept aside (or shown on standard error), so that
// standard output carries only the viewer's summary, and the last of them
// explains a failure.
#pragma once

#include <functional>
#include <string>

namespace rwview {

// Runs `step` with what it prints on standard output kept aside, or shown on
// standard error when `show`; answers the last non-empty line it printed.
// Lines that hold `passed` are shown on standard error all the same.
std::string RunAside(bool show, const std::function<void()>& step, const char* passed = nullptr);

}  // namespace rwview
