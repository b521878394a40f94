// Engine-wide counts of live engine objects, one per class name, so that soak
// tests can prove every object a module took a reference on was released
// exactly once.
#pragma once

#include <atomic>
#include <map>
#include <string>

namespace rwengine {

class LiveObjects {
 public:
  // Live instances of the class of that name; 0 for a name never seen.
  static int Count(const std::string& className);
  // Live instances of every counted class together.
  static int Total();
  // Every class seen so far with its live count, for failure messages.
  static std::map<std::string, int> Snapshot();

  // The counter of one class; the reference stays valid for the process.
  static std::atomic<int>& Cell(const char* className);
};

// Mixed into a class as a base; the class names itself with
// `static constexpr const char kLiveName[]`. Copies count as instances too.
template <class Self>
class LiveCounted {
 protected:
  LiveCounted() { ++Cell(); }
  LiveCounted(const LiveCounted&) { ++Cell(); }
  LiveCounted& operator=(const LiveCounted&) = default;
  ~LiveCounted() { --Cell(); }

 private:
  static std::atomic<int>& Cell() {
    static std::atomic<int>& cell = LiveObjects::Cell(Self::kLiveName);
    return cell;
  }
};

}  // namespace rwengine
