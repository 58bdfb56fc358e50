#pragma once
// A growable array of plain values that keeps its first few elements inside itself. Key lists
// of controllers are short: a conversion makes one controller per node with a single key in
// each of its lists, and a std::vector would take one heap block per list. A CSmallArray holds
// kInlineBytes of elements without a heap block and is 8 bytes larger than that: with the
// default of 16 it is as large as a std::vector and holds one quaternion or 3-vector, or four
// floats or ints.
//
// It has the members of std::vector that its users need, with the same meaning; growing past
// what fits inside moves the elements to a block of `Allocator` (a stateless allocator: bulk
// arrays take CBulkAllocator). Allocation failures throw std::bad_alloc, like std::vector, and
// so does a size past 2^32 - 1 elements.
#include <algorithm>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <new>
#include <stdexcept>
#include <type_traits>
#include <vector>

namespace KX {

template <class T, class Allocator = std::allocator<T>, size_t kInlineBytes = 16>
class CSmallArray {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);
  static_assert(std::is_empty_v<Allocator>);
  static_assert(kInlineBytes >= sizeof(void*));
  using Traits = std::allocator_traits<Allocator>;

 public:
  using value_type = T;
  using size_type = size_t;
  using iterator = T*;
  using const_iterator = const T*;
  using reference = T&;
  using const_reference = const T&;
  // How many elements fit inside the array itself.
  static constexpr uint32_t kInlineCapacity =
      sizeof(T) <= kInlineBytes && alignof(T) <= alignof(std::max_align_t)
          ? static_cast<uint32_t>(kInlineBytes / sizeof(T))
          : 0;

  CSmallArray() noexcept {}
  CSmallArray(std::initializer_list<T> values) { assign(values.begin(), values.end()); }
  explicit CSmallArray(size_t n) { resize(n); }
  CSmallArray(size_t n, const T& value) { assign(n, value); }
  template <std::input_iterator It>
  CSmallArray(It first, It last) {
    assign(first, last);
  }
  CSmallArray(const CSmallArray& other) { assign(other.begin(), other.end()); }
  CSmallArray(CSmallArray&& other) noexcept { TakeFrom(other); }
  ~CSmallArray() { Release(); }

  CSmallArray& operator=(const CSmallArray& other) {
    if (this != &other) assign(other.begin(), other.end());
    return *this;
  }
  CSmallArray& operator=(CSmallArray&& other) noexcept {
    if (this != &other) {
      Release();
      TakeFrom(other);
    }
    return *this;
  }
  CSmallArray& operator=(std::initializer_list<T> values) {
    assign(values.begin(), values.end());
    return *this;
  }

  size_t size() const { return size_; }
  size_t capacity() const { return capacity_; }
  bool empty() const { return size_ == 0; }
  T* data() { return OnHeap() ? heap_ : reinterpret_cast<T*>(inline_); }
  const T* data() const { return OnHeap() ? heap_ : reinterpret_cast<const T*>(inline_); }
  T* begin() { return data(); }
  T* end() { return data() + size_; }
  const T* begin() const { return data(); }
  const T* end() const { return data() + size_; }
  T& operator[](size_t i) { return data()[i]; }
  const T& operator[](size_t i) const { return data()[i]; }
  T& at(size_t i) { return i < size_ ? data()[i] : throw std::out_of_range("CSmallArray::at"); }
  const T& at(size_t i) const {
    return i < size_ ? data()[i] : throw std::out_of_range("CSmallArray::at");
  }
  T& front() { return data()[0]; }
  const T& front() const { return data()[0]; }
  T& back() { return data()[size_ - 1]; }
  const T& back() const { return data()[size_ - 1]; }

  void clear() { size_ = 0; }
  void pop_back() { --size_; }
  void reserve(size_t n) {
    if (n > capacity_) Grow(n, size_);
  }
  // New elements are value-initialised.
  void resize(size_t n) { resize(n, T{}); }
  void resize(size_t n, const T& value) {
    const T copy = value;  // `value` may be an element that growing moves
    const size_t old = size_;
    ResizeForOverwrite(n);
    std::fill(data() + std::min(old, n), data() + n, copy);
  }
  // Sets the size without initialising new elements: for a caller that overwrites them all.
  void ResizeForOverwrite(size_t n) {
    reserve(n);
    size_ = static_cast<uint32_t>(n);
  }
  void assign(size_t n, const T& value) {
    clear();
    resize(n, value);
  }
  void assign(std::initializer_list<T> values) { assign(values.begin(), values.end()); }
  template <std::input_iterator It>
  void assign(It first, It last) {
    clear();
    if constexpr (std::forward_iterator<It>) {
      const auto n = static_cast<size_t>(std::distance(first, last));
      // A range from this array itself is copied out before any growth frees it.
      if (n > capacity_) {
        CSmallArray copy;
        copy.Grow(n, 0);
        std::copy(first, last, copy.data());
        copy.size_ = static_cast<uint32_t>(n);
        *this = std::move(copy);
        return;
      }
      std::copy(first, last, data());
      size_ = static_cast<uint32_t>(n);
    } else {
      for (; first != last; ++first) push_back(*first);
    }
  }
  void push_back(const T& value) {
    const T copy = value;  // `value` may be an element that growing moves
    if (size_ == capacity_) Grow(size_ < 4 ? 4 : 2 * static_cast<size_t>(size_), size_);
    data()[size_++] = copy;
  }

  friend bool operator==(const CSmallArray& a, const CSmallArray& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }
  template <class OtherAllocator>
  friend bool operator==(const CSmallArray& a, const std::vector<T, OtherAllocator>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }

 private:
  bool OnHeap() const { return capacity_ > kInlineCapacity; }
  // Moves the first `keep` elements into a heap block of at least `n` elements.
  void Grow(size_t n, size_t keep) {
    if (n > UINT32_MAX) throw std::bad_alloc();
    Allocator allocator;
    T* block = Traits::allocate(allocator, n);
    if (keep) std::memcpy(static_cast<void*>(block), data(), keep * sizeof(T));
    Release();
    heap_ = block;
    capacity_ = static_cast<uint32_t>(n);
  }
  void Release() {
    if (OnHeap()) {
      Allocator allocator;
      Traits::deallocate(allocator, heap_, capacity_);
    }
    capacity_ = kInlineCapacity;
  }
  // Takes `other`'s elements; `other` is left empty. This array holds nothing of its own.
  void TakeFrom(CSmallArray& other) {
    if (other.OnHeap()) {
      heap_ = other.heap_;
    } else if (other.size_ != 0) {
      std::memcpy(inline_, other.inline_, other.size_ * sizeof(T));  // the elements held, no more
    }
    size_ = other.size_;
    capacity_ = other.capacity_;
    other.size_ = 0;
    other.capacity_ = kInlineCapacity;
  }

  union {
    T* heap_;
    alignas(T) unsigned char inline_[kInlineBytes];
  };
  uint32_t size_ = 0;
  uint32_t capacity_ = kInlineCapacity;
};

// What a reader calls before it overwrites every element.
template <class T, class Allocator, size_t kInlineBytes>
void ResizeForOverwrite(CSmallArray<T, Allocator, kInlineBytes>& values, size_t n) {
  values.ResizeForOverwrite(n);
}

}  // namespace KX
