// The engine's component conventions: the base interface every object
// implements, numeric interface ids handed out by the component system, and
// packed interface versions.
#pragma once

#include <cstdint>

using scfInterfaceID = int32_t;
using scfInterfaceVersion = uint32_t;

// Major in the top 8 bits, minor in the next 8, micro in the low 16.
constexpr scfInterfaceVersion scfMakeVersion(unsigned major, unsigned minor, unsigned micro) {
  return (major << 24) | (minor << 16) | micro;
}

// A caller asking for `asked` can use an object offering `offered` when the
// majors agree and the offer is not older than the request.
constexpr bool scfCompatibleVersion(scfInterfaceVersion asked, scfInterfaceVersion offered) {
  return (asked >> 24) == (offered >> 24) && (asked & 0xFFFFFF) <= (offered & 0xFFFFFF);
}

// Every interface names itself and the version its declaration offers, so that
// callers and implementers agree on both from one place.
#define SCF_INTERFACE(Name, Major, Minor, Micro)      \
  static constexpr const char* scfInterfaceName() {   \
    return #Name;                                     \
  }                                                   \
  static constexpr scfInterfaceVersion scfVersion() { \
    return scfMakeVersion(Major, Minor, Micro);       \
  }

// An interface's operations sit at fixed positions of its table, counting
// IncRef, DecRef, GetRefCount and QueryInterface as 0 to 3: a module built
// against these declarations calls the right operations of any engine built to
// the same table. The positions the module calls are noted beside them, and a
// test holds them there. A slot named ReservedSlotN (N its position) is one the
// module never calls: it does nothing unless an engine gives it a use.
struct iBase {
  virtual void IncRef() = 0;
  virtual void DecRef() = 0;
  virtual int32_t GetRefCount() = 0;
  virtual void* QueryInterface(scfInterfaceID id, scfInterfaceVersion version) = 0;

 protected:
  ~iBase() = default;  // objects are destroyed through DecRef, never by delete
};

struct iSCF : iBase {
  SCF_INTERFACE(iSCF, 0, 0, 1)

  // Loads a module file and registers the classes of its class table.
  virtual bool RegisterModule(const char* path) = 0;
  virtual bool ClassRegistered(const char* classId) = 0;
  // A new instance of a registered class, with one reference for the caller.
  virtual iBase* CreateInstance(const char* classId) = 0;
  virtual const char* GetClassDescription(const char* classId) = 0;
  virtual void UnloadUnusedModules() = 0;
  virtual void ReservedSlot9() {}
  virtual void ReservedSlot10() {}
  virtual void ReservedSlot11() {}
  virtual void ReservedSlot12() {}
  virtual void ReservedSlot13() {}
  // 14. One id per name for the life of the component system.
  virtual scfInterfaceID GetInterfaceID(const char* name) = 0;

  // The component system of this binary: each binary that links the host
  // library has its own cell, which its owner (the engine's start-up, or a
  // module's entry function) sets.
  static iSCF* SCF;

 protected:
  ~iSCF() = default;
};

// One row of a module's class table.
using scfFactoryFunc = iBase* (*)(iBase* parent);
struct scfClassInfo {
  const char* classId;
  const char* description;
  const char* dependencies;
  scfFactoryFunc factory;
};

// Asks `object` for interface I through the component system of this binary.
// The result carries one reference for the caller; null when not offered.
template <class I>
I* scfQueryInterface(iBase* object) {
  if (object == nullptr || iSCF::SCF == nullptr) return nullptr;
  return static_cast<I*>(
      object->QueryInterface(iSCF::SCF->GetInterfaceID(I::scfInterfaceName()), I::scfVersion()));
}
