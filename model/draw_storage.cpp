#include "model/draw_storage.h"

#include <memory>
#include <mutex>
#include <vector>

namespace rigweave {

namespace {

struct Pool {
  std::mutex mutex;
  std::vector<std::unique_ptr<DrawStorage>> free;
};

Pool& ThePool() {
  static Pool pool;
  return pool;
}

}  // namespace

DrawStorageLease::DrawStorageLease() : storage_(nullptr) {
  Pool& pool = ThePool();
  {
    std::lock_guard<std::mutex> hold(pool.mutex);
    if (!pool.free.empty()) {
      storage_ = pool.free.back().release();
      pool.free.pop_back();
      return;
    }
    // Room to give it back, made before it is needed, so that the return
    // in the destructor cannot fail.
    pool.free.reserve(pool.free.capacity() + 1);
  }
  storage_ = new DrawStorage;
}

DrawStorageLease::~DrawStorageLease() {
  Pool& pool = ThePool();
  std::lock_guard<std::mutex> hold(pool.mutex);
  // Never past the room the leases reserved: no allocation here.
  pool.free.emplace_back(storage_);
}

}  // namespace rigweave
