#include "model/events.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace rigweave {

namespace {

std::unique_ptr<char[]> CopyName(const char* name) {
  const size_t length = name != nullptr ? std::strlen(name) : 0;
  std::unique_ptr<char[]> copy(new char[length + 1]);
  if (length > 0) std::memcpy(copy.get(), name, length);
  copy[length] = '\0';
  return copy;
}

}  // namespace

int EventTable::AddMoment(int animation, float seconds, const char* name, int userId,
                          iRigweaveEventListener* listener) {
  Entry entry;
  entry.animation = animation;
  entry.time = seconds;
  entry.name = CopyName(name);
  entry.userId = userId;
  entry.listener = csRef<iRigweaveEventListener>(listener);
  return Add(std::move(entry));
}

int EventTable::AddActionEnd(int animation, const char* name, int userId,
                             iRigweaveEventListener* listener) {
  Entry entry;
  entry.animation = animation;
  entry.actionEnd = true;
  entry.name = CopyName(name);
  entry.userId = userId;
  entry.listener = csRef<iRigweaveEventListener>(listener);
  return Add(std::move(entry));
}

int EventTable::Add(Entry entry) {
  if (nextHandle_ < 0) return -1;  // every handle an int holds was given out
  // Sized first, so that sorting after a firing never allocates, and so
  // that running out here leaves the table as it was.
  order_.reserve(entries_.size() + 1);
  entries_.push_back(std::move(entry));
  entries_.back().handle = nextHandle_++;
  // Added from inside a listener: it joins from the next advance on.
  if (firing_)
    stale_ = true;
  else
    Rebuild();
  return entries_.back().handle;
}

bool EventTable::Remove(int handle) {
  for (Entry& entry : entries_) {
    if (entry.handle != handle || entry.dead) continue;
    entry.dead = true;
    if (firing_)
      stale_ = true;
    else
      Rebuild();
    return true;
  }
  return false;
}

void EventTable::Clear() {
  generation_++;
  // One at a time, the table whole at each release: a listener's
  // destructor may call back into it.
  while (!entries_.empty()) {
    csRef<iRigweaveEventListener> gone = std::move(entries_.back().listener);
    entries_.pop_back();
    gone.reset();
  }
  Rebuild();
}

void EventTable::Rebuild() {
  stale_ = false;
  for (;;) {
    auto dead =
        std::find_if(entries_.begin(), entries_.end(), [](const Entry& e) { return e.dead; });
    if (dead == entries_.end()) break;
    csRef<iRigweaveEventListener> gone = std::move(dead->listener);
    entries_.erase(dead);
    gone.reset();
  }
  order_.clear();
  for (int i = 0; i < static_cast<int>(entries_.size()); i++) order_.push_back(i);
  std::sort(order_.begin(), order_.end(), [this](int a, int b) {
    const Entry& x = entries_[static_cast<size_t>(a)];
    const Entry& y = entries_[static_cast<size_t>(b)];
    if (x.actionEnd != y.actionEnd) return !x.actionEnd;
    if (!x.actionEnd && x.animation != y.animation) return x.animation < y.animation;
    if (!x.actionEnd && x.time != y.time) return x.time < y.time;
    return x.handle < y.handle;
  });
  std::fill(std::begin(momentBegin_), std::end(momentBegin_), 0);
  std::fill(std::begin(momentEnd_), std::end(momentEnd_), 0);
  endsBegin_ = static_cast<int>(order_.size());
  for (int i = static_cast<int>(order_.size()) - 1; i >= 0; i--) {
    const Entry& entry = entries_[static_cast<size_t>(order_[static_cast<size_t>(i)])];
    if (entry.actionEnd) {
      endsBegin_ = i;
      continue;
    }
    if (entry.animation < 0 || entry.animation >= kMaxAnimations) continue;
    if (momentEnd_[entry.animation] == 0) momentEnd_[entry.animation] = i + 1;
    momentBegin_[entry.animation] = i;
  }
}

int EventTable::Moments(const PlayingSpan& span) const {
  if (span.animation < 0 || span.animation >= kMaxAnimations) return 0;
  return momentEnd_[span.animation] - momentBegin_[span.animation];
}

int EventTable::Count(const PlayingSpan& span) const {
  const int ends = span.ended ? static_cast<int>(order_.size()) - endsBegin_ : 0;
  return Moments(span) + ends;
}

int EventTable::EntryAt(const PlayingSpan& span, int at) const {
  const int moments = Moments(span);
  const int slot = at < moments ? momentBegin_[span.animation] + at : endsBegin_ + (at - moments);
  return order_[static_cast<size_t>(slot)];
}

int EventTable::Place(const PlayingSpan& span, const Cursor& cursor, double& offset) const {
  const Entry& entry = entries_[static_cast<size_t>(EntryAt(span, cursor.at))];
  const double before = span.before, after = span.after, duration = span.duration;
  if (span.cycle) {
    // The loop index and the time within the loop, compared apart: the
    // bound one step ends on is the bound the next starts from, to the bit.
    // The end of the loop is the start of the next.
    const bool atEnd = entry.time >= span.duration;
    const int block = atEnd ? cursor.block + 1 : cursor.block;
    const float time = atEnd ? 0.0f : entry.time;
    if (block == 0 && time < span.before) return -1;
    if (block < 0) return -1;
    if (block > span.wraps || (block == span.wraps && time >= span.after)) return 1;
    const double covered = span.wraps * duration + after - before;
    const double reached = block * duration + time - before;
    offset = covered > 0 ? reached / covered : 0;
    return 0;
  }
  const double covered = after - before;
  if (entry.actionEnd) {
    offset = covered > 0 ? (duration - before) / covered : 0;
    return 0;
  }
  if (entry.time < span.before) return -1;
  // An action's time ends on its duration, which it crosses as it ends.
  if (span.ended ? entry.time > span.duration : entry.time >= span.after) return 1;
  offset = covered > 0 ? (entry.time - before) / covered : 0;
  return 0;
}

void EventTable::Next(const PlayingSpan& span, Cursor& cursor) const {
  const int count = span.cycle ? Moments(span) : Count(span);
  for (;;) {
    if (++cursor.at >= count) {
      cursor.at = 0;
      if (!span.cycle || count == 0 || ++cursor.block > span.wraps) {
        cursor.done = true;
        return;
      }
    }
    const int where = Place(span, cursor, cursor.offset);
    if (where < 0) continue;
    if (where == 0) return;
    // Past the step: for a cycle nothing later can be in it; an action's
    // ends still follow its moments.
    if (span.cycle) {
      cursor.done = true;
      return;
    }
    cursor.at = std::max(cursor.at, Moments(span) - 1);
  }
}

void EventTable::Seek(const PlayingSpan& span, Cursor& cursor) const {
  const int count = span.cycle ? Moments(span) : Count(span);
  cursor = Cursor();
  if (count == 0) {
    cursor.done = true;
    return;
  }
  // An event at a cycle's end, one loop back, is the start of this one.
  cursor.block = span.cycle ? -1 : 0;
  cursor.at = -1;
  Next(span, cursor);
}

bool EventTable::Fire(const PlayingSpan* spans, int spanCount, iRigweaveState* character,
                      iBase* owner) {
  if (firing_ || order_.empty()) return true;
  const int count = std::min(spanCount, kMaxSpans);
  for (int s = 0; s < count; s++) Seek(spans[s], cursors_[s]);
  firing_ = true;
  const unsigned generation = generation_;
  for (;;) {
    int first = -1;
    for (int s = 0; s < count; s++)
      if (!cursors_[s].done && (first < 0 || cursors_[s].offset < cursors_[first].offset))
        first = s;
    if (first < 0) break;
    const PlayingSpan& span = spans[first];
    Entry& entry = entries_[static_cast<size_t>(EntryAt(span, cursors_[first].at))];
    Next(span, cursors_[first]);
    const bool heard = !entry.dead && (!entry.actionEnd || entry.animation < 0 ||
                                       entry.animation == span.animation);
    if (!heard) continue;
    const csRigweaveEvent event{
        entry.handle,     span.animation, entry.actionEnd ? span.duration : entry.time,
        entry.name.get(), entry.userId,   entry.actionEnd};
    // The listener may remove itself: it lives until it has answered.
    csRef<iRigweaveEventListener> listener = entry.listener;
    listener->OnRigweaveEvent(character, event);
    if (owner->GetRefCount() == 1) return false;
    // A new model replaced the table's contents.
    if (generation_ != generation) break;
  }
  firing_ = false;
  if (stale_) Rebuild();
  return owner->GetRefCount() > 1;
}

}  // namespace rigweave
