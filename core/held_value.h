#pragma once
// Working state that most objects never use: the last transform a controller computed, the world
// transform and the bound of a spatial object. None of it is saved, and a converted scene never
// computes it, yet every object carried it. A CHeldValue takes 8 bytes, and a heap block only
// from its first write; until then it reads as T{}. Copies copy the value.
#include <memory>

namespace KX {

template <class T>
class CHeldValue {
 public:
  CHeldValue() = default;
  CHeldValue(const CHeldValue& other)
      : held_(other.held_ ? std::make_unique<T>(*other.held_) : nullptr) {}
  CHeldValue& operator=(const CHeldValue& other) {
    if (!other.held_)
      held_.reset();
    else if (this != &other)
      Mutable() = *other.held_;
    return *this;
  }
  // The writes may throw std::bad_alloc, like the other working memory of an evaluation.
  CHeldValue& operator=(const T& value) {
    Mutable() = value;
    return *this;
  }
  T& Mutable() {
    if (!held_) held_ = std::make_unique<T>();
    return *held_;
  }

  const T& get() const { return held_ ? *held_ : kUnset; }
  operator const T&() const { return get(); }
  const T* operator->() const { return &get(); }

 private:
  static inline const T kUnset{};
  std::unique_ptr<T> held_;
};

}  // namespace KX
