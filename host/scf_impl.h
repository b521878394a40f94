// The one implementation of reference counting, interface queries and
// embedded interfaces that every class of the module and of the engine uses.
//
// A class derives from scfImplementation<Self, MainInterface>, which gives it
// the count and the parent right after its interface table, and lists what it
// offers in `scfQueryOwn` with scfOffer. An embedded interface derives from
// scfEmbedded<Owner, Interface> and forwards counting to its owner.
#pragma once

#include <atomic>
#include <cstdint>

#include "host/scf.h"

// The id cache cell of one (querying class, interface name) pair: looked up
// once from the component system of this binary, then kept.
template <class Querier, class I>
scfInterfaceID& scfIdCell() {
  static scfInterfaceID cell = -1;
  return cell;
}

template <class Querier, class I>
bool scfOffers(scfInterfaceID id, scfInterfaceVersion asked) {
  scfInterfaceID& cell = scfIdCell<Querier, I>();
  if (cell == -1 && iSCF::SCF != nullptr) cell = iSCF::SCF->GetInterfaceID(I::scfInterfaceName());
  return cell != -1 && id == cell && scfCompatibleVersion(asked, I::scfVersion());
}

// Tries the interfaces in the order given; the first that matches gets a
// reference and is answered. The static type of each pointer names the
// interface it stands for.
template <class Querier, class... I>
void* scfOffer(scfInterfaceID id, scfInterfaceVersion asked, I*... interfaces) {
  void* found = nullptr;
  (void)((scfOffers<Querier, I>(id, asked)
              ? (interfaces->IncRef(), found = static_cast<void*>(interfaces), true)
              : false) ||
         ...);
  return found;
}

template <class Self, class Main>
class scfImplementation : public Main {
 public:
  explicit scfImplementation(iBase* parent = nullptr) : scfRefCount(1), scfParent(parent) {
    if (scfParent != nullptr) scfParent->IncRef();
  }
  scfImplementation(const scfImplementation&) = delete;
  scfImplementation& operator=(const scfImplementation&) = delete;

  // Atomic, so that objects held by several drawing threads count right.
  void IncRef() override { scfRefCount.fetch_add(1, std::memory_order_relaxed); }
  void DecRef() override {
    if (scfRefCount.fetch_sub(1, std::memory_order_acq_rel) > 1) return;
    // The hold on the parent goes first, before anything of ours is torn down.
    if (scfParent != nullptr) scfParent->DecRef();
    delete this;
  }
  int32_t GetRefCount() override { return scfRefCount.load(std::memory_order_acquire); }
  void* QueryInterface(scfInterfaceID id, scfInterfaceVersion version) override {
    if (void* own = static_cast<Self*>(this)->scfQueryOwn(id, version)) return own;
    return scfParent != nullptr ? scfParent->QueryInterface(id, version) : nullptr;
  }

  // The slot after the main interface's operations.
  virtual ~scfImplementation() = default;

 protected:
  // What the class offers; classes with embedded interfaces hide this with
  // their own list.
  void* scfQueryOwn(scfInterfaceID id, scfInterfaceVersion version) {
    return scfOffer<Self>(id, version, static_cast<Main*>(this));
  }

  std::atomic<int32_t> scfRefCount;
  iBase* scfParent;
};

template <class Owner, class I>
class scfEmbedded : public I {
 public:
  explicit scfEmbedded(Owner* owner) : scfOwner(owner) {}
  scfEmbedded(const scfEmbedded&) = delete;
  scfEmbedded& operator=(const scfEmbedded&) = delete;

  void IncRef() override { scfOwner->IncRef(); }
  void DecRef() override { scfOwner->DecRef(); }
  int32_t GetRefCount() override { return scfOwner->GetRefCount(); }
  void* QueryInterface(scfInterfaceID id, scfInterfaceVersion version) override {
    if (scfOffers<scfEmbedded, I>(id, version)) {
      IncRef();
      return static_cast<I*>(this);
    }
    return scfOwner->QueryInterface(id, version);
  }

 protected:
  ~scfEmbedded() = default;
  Owner* scfOwner;
};
