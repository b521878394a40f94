#include "viewer/event_printer.h"

#include <cstdio>
#include <string>

#include "host/scf_impl.h"
#include "viewer/failure.h"

namespace rwview {
namespace {

class EventPrinter : public scfImplementation<EventPrinter, iRigweaveEventListener> {
 public:
  EventPrinter(const double& seconds, std::string model)
      : seconds_(seconds), model_(std::move(model)) {}

  void OnRigweaveEvent(iRigweaveState* character, const csRigweaveEvent& event) override {
    const char* animation = character->GetAnimationName(event.animation);
    std::printf("event %.3f s %s: %s %s\n", seconds_, model_.c_str(),
                animation != nullptr ? animation : "?", event.name);
    std::fflush(stdout);
  }

 private:
  const double& seconds_;
  std::string model_;
};

}  // namespace

void PrintEvents(Character& character, const double& seconds) {
  iRigweaveState& state = *character.rigweave;
  auto printer = csRef<EventPrinter>::Adopt(new EventPrinter(seconds, character.model->name));
  bool registered = state.AddActionEnd(-1, "end", 0, printer.get()) >= 0;
  for (int a = 0; a < state.GetAnimationCount(); a++)
    registered = registered && state.AddEvent(a, 0.0f, "start", 0, printer.get()) >= 0;
  if (!registered) throw Failure{"the module refused to report events"};
}

}  // namespace rwview
