// Owning smart pointer for reference-counted engine objects.
#pragma once

#include <utility>

template <class T>
class csRef {
 public:
  csRef() = default;
  csRef(std::nullptr_t) {}
  // Takes a reference of its own.
  explicit csRef(T* p) : ptr_(p) {
    if (ptr_) ptr_->IncRef();
  }
  // Adopts the reference the caller already holds (results of New*, Create*, queries).
  static csRef Adopt(T* p) {
    csRef r;
    r.ptr_ = p;
    return r;
  }
  csRef(const csRef& o) : csRef(o.ptr_) {}
  csRef(csRef&& o) noexcept : ptr_(std::exchange(o.ptr_, nullptr)) {}
  csRef& operator=(csRef o) noexcept {
    std::swap(ptr_, o.ptr_);
    return *this;
  }
  ~csRef() {
    if (ptr_) ptr_->DecRef();
  }

  T* get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  T& operator*() const { return *ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }
  // Hands the held reference to the caller.
  T* release() { return std::exchange(ptr_, nullptr); }
  void reset() { csRef().swap(*this); }
  void swap(csRef& o) noexcept { std::swap(ptr_, o.ptr_); }

 private:
  T* ptr_ = nullptr;
};
