#pragma once
// The passes over a loaded scene visit hundreds of thousands of objects spread over the heap and
// touch little of each: without asking for the next objects early, nearly every visit waits for
// its object to come from memory. These helpers ask a few objects ahead of the walk.
#include <cstddef>
#include <vector>

namespace KX {

// How many objects ahead of a walk the requests go.
inline constexpr size_t kRequestAhead = 8;

// Asks for the first three cache lines of `object`: the fields the passes read and write (the
// chains, the parent, the local transform, the marks) lie there in every scene object.
inline void RequestObject(const void* object) {
  if (!object) return;
  const auto* bytes = static_cast<const char*>(object);
  __builtin_prefetch(bytes);
  __builtin_prefetch(bytes + 64);
  __builtin_prefetch(bytes + 128);
}

// For a loop over `list` by index: asks for the object kRequestAhead places after `i`.
template <class T>
void RequestAhead(const std::vector<T*>& list, size_t i) {
  if (i + kRequestAhead < list.size()) RequestObject(list[i + kRequestAhead]);
}

// A walk over a list of objects that asks for each one kRequestAhead steps before it gets there:
// `for (T* object : CPrefetching(list))`.
template <class T>
class CPrefetching {
 public:
  explicit CPrefetching(const std::vector<T*>& objects) : objects_(objects) {}

  class iterator {
   public:
    iterator(T* const* at, T* const* end) : at_(at), end_(end) {}
    T* operator*() const { return *at_; }
    iterator& operator++() {
      ++at_;
      if (static_cast<size_t>(end_ - at_) > kRequestAhead) RequestObject(at_[kRequestAhead]);
      return *this;
    }
    bool operator!=(const iterator& other) const { return at_ != other.at_; }

   private:
    T* const* at_;
    T* const* end_;
  };

  iterator begin() const {
    for (size_t i = 0; i < objects_.size() && i <= kRequestAhead; ++i) RequestObject(objects_[i]);
    return {objects_.data(), objects_.data() + objects_.size()};
  }
  iterator end() const {
    return {objects_.data() + objects_.size(), objects_.data() + objects_.size()};
  }

 private:
  const std::vector<T*>& objects_;
};

}  // namespace KX
