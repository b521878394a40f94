#include "model/draw_storage.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

namespace rigweave {

// A storage and whether a lease holds it. The flag has a cache line of its
// own, and so has the storage's start, so that a thread taking its storage
// touches nothing another thread writes.
struct PooledStorage {
  alignas(64) std::atomic<bool> taken{false};
  alignas(64) DrawStorage storage;
};

namespace {

struct Pool {
  std::mutex mutex;
  std::vector<std::unique_ptr<PooledStorage>> all;
};

Pool& ThePool() {
  static Pool pool;
  return pool;
}

// The storage this thread leased last. A thread drawing takes the same one
// again without a lock while nobody else holds it, so the vertices it writes
// are already in its own core's cache. Handed round through one free list,
// each storage went to whichever thread asked next and its lines had to come
// from the other core first: with two threads drawing a crowd, the skinning
// alone took a third longer. Plain data, so it needs no destructor when a
// thread ends; the pool owns every storage.
thread_local PooledStorage* lastLeased = nullptr;

bool Take(PooledStorage& pooled) {
  return !pooled.taken.load(std::memory_order_relaxed) &&
         !pooled.taken.exchange(true, std::memory_order_acquire);
}

}  // namespace

DrawStorageLease::DrawStorageLease() : pooled_(nullptr) {
  if (lastLeased != nullptr && Take(*lastLeased)) {
    pooled_ = lastLeased;
    return;
  }
  // This thread's storage is held (a Draw inside a Draw) or it has none yet
  // (a new thread): any free one, else a new one, so the pool keeps as many
  // as threads ever drew at once.
  Pool& pool = ThePool();
  std::lock_guard<std::mutex> hold(pool.mutex);
  for (const auto& pooled : pool.all) {
    if (Take(*pooled)) {
      pooled_ = lastLeased = pooled.get();
      return;
    }
  }
  // Nobody can take it before it is marked: another thread's lock-free take
  // only tries the storage that thread had, and every other take holds the lock.
  pool.all.push_back(std::make_unique<PooledStorage>());
  pooled_ = lastLeased = pool.all.back().get();
  pooled_->taken.store(true, std::memory_order_relaxed);
}

DrawStorageLease::~DrawStorageLease() {
  pooled_->taken.store(false, std::memory_order_release);
}

DrawStorage& DrawStorageLease::operator*() const {
  return pooled_->storage;
}

}  // namespace rigweave
