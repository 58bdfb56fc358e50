#pragma once
// Intrusive strong reference to a library object. The object carries its own count; the last
// reference to go destroys it.
#include <cstddef>
#include <utility>

namespace KX {

template <class T>
class CRefPtr {
 public:
  CRefPtr() = default;
  CRefPtr(std::nullptr_t) {}
  CRefPtr(T* object) : p_(object) {
    if (p_) p_->AddRef();
  }
  CRefPtr(const CRefPtr& other) : CRefPtr(other.p_) {}
  template <class U>
  CRefPtr(const CRefPtr<U>& other) : CRefPtr(other.get()) {}
  CRefPtr(CRefPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ~CRefPtr() {
    if (p_) p_->Release();
  }

  // Acquires the new object before releasing the old one, so assigning an object that only the
  // old one kept alive is safe.
  CRefPtr& operator=(T* object) {
    if (object != p_) {
      if (object) object->AddRef();
      T* old = std::exchange(p_, object);
      if (old) old->Release();
    }
    return *this;
  }
  CRefPtr& operator=(std::nullptr_t) { return *this = static_cast<T*>(nullptr); }
  CRefPtr& operator=(const CRefPtr& other) { return *this = other.p_; }
  template <class U>
  CRefPtr& operator=(const CRefPtr<U>& other) {
    return *this = other.get();
  }
  CRefPtr& operator=(CRefPtr&& other) noexcept {
    if (this != &other) {
      T* old = std::exchange(p_, std::exchange(other.p_, nullptr));
      if (old) old->Release();
    }
    return *this;
  }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }
  bool operator==(const CRefPtr& other) const { return p_ == other.p_; }
  bool operator==(const T* other) const { return p_ == other; }
  bool operator==(std::nullptr_t) const { return p_ == nullptr; }

 private:
  T* p_ = nullptr;
};

}  // namespace KX
