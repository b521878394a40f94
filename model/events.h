// The events an application registered on a character's animations, and
// the crossings of one advance, fired in the order the character's time
// crosses them.
#pragma once

#include <memory>
#include <vector>

#include "host/ref.h"
#include "irigweavestate.h"
#include "render/limits.h"

namespace rigweave {

// One animation instance (a cycle, or one playing action) across one step,
// as the animation's own times before and after it.
struct PlayingSpan {
  int animation = -1;
  bool cycle = false;
  float duration = 0;
  // In-loop times of a cycle (0 to the duration), or an action's times
  // since its start.
  float before = 0, after = 0;
  // Cycle: how often the step wrapped the loop. Capped by the caller.
  int wraps = 0;
  // Action: it played out in this step (`after` is then its duration).
  bool ended = false;
};

class EventTable {
 public:
  // Instances one step can account for; what plays beyond it fires nothing.
  static constexpr int kMaxSpans = 64;
  // Crossings of one event reported per step (see AddEvent).
  static constexpr int kMaxWraps = 65536;

  EventTable() = default;
  EventTable(const EventTable&) = delete;
  EventTable& operator=(const EventTable&) = delete;

  // Handles are >= 0; the caller checked the animation and time.
  int AddMoment(int animation, float seconds, const char* name, int userId,
                iRigweaveEventListener* listener);
  // `animation` -1 hears every action's end.
  int AddActionEnd(int animation, const char* name, int userId, iRigweaveEventListener* listener);
  bool Remove(int handle);
  // Drops every registration (a new model); a firing under way stops.
  void Clear();
  bool Empty() const { return entries_.empty(); }
  bool Firing() const { return firing_; }

  // Calls each listener once per crossing of the spans, in the order of the
  // crossings within the step. `owner` is the object the caller holds one
  // extra reference on for the time of the calls: when a listener leaves
  // that hold the only one, Fire returns false at once without touching the
  // table again (the caller drops its hold, which destroys the object).
  // Allocates nothing.
  bool Fire(const PlayingSpan* spans, int spanCount, iRigweaveState* character, iBase* owner);

 private:
  struct Entry {
    int handle = -1;
    int animation = -1;
    float time = 0;
    bool actionEnd = false;
    bool dead = false;
    // Apart from the entry, so that a name handed to a listener stays where
    // it is when the listener's own registrations move the entries.
    std::unique_ptr<char[]> name;
    int userId = 0;
    csRef<iRigweaveEventListener> listener;
  };
  // Where one span's next crossing is.
  struct Cursor {
    int block = 0;  // loop index of a cycle; 0 for an action
    int at = 0;     // index into the span's moments, then its ends
    bool done = false;
    double offset = 0;  // fraction of the step at which it is crossed
  };

  int Add(Entry entry);
  // Drops removed entries and sorts the rest: moments by animation and time,
  // then the action ends by handle.
  void Rebuild();
  void Seek(const PlayingSpan& span, Cursor& cursor) const;
  // The cursor's crossing, or false when it is past the step.
  void Next(const PlayingSpan& span, Cursor& cursor) const;
  // Where the cursor's candidate lies: -1 before the step, 0 in it (with
  // its offset), 1 past it.
  int Place(const PlayingSpan& span, const Cursor& cursor, double& offset) const;
  int Moments(const PlayingSpan& span) const;
  int Count(const PlayingSpan& span) const;
  int EntryAt(const PlayingSpan& span, int at) const;

  std::vector<Entry> entries_;
  std::vector<int> order_;
  int momentBegin_[kMaxAnimations] = {};
  int momentEnd_[kMaxAnimations] = {};
  int endsBegin_ = 0;
  int nextHandle_ = 0;
  unsigned generation_ = 0;
  bool firing_ = false;
  bool stale_ = false;
  Cursor cursors_[kMaxSpans];
};

}  // namespace rigweave
