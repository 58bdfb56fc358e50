#pragma once
// A growable array of plain values that keeps its first few elements inside itself. Key lists
// of controllers and the arrays of small meshes are short: a conversion makes one controller per
// node with a single key in each of its lists, and a std::vector would take one heap block per
// list. A CSmallArray holds kInlineBytes of elements without a heap block (at least 12) and is 4
// bytes larger than that: with the default of 12 it takes 16 bytes, two thirds of a std::vector,
// and holds one 3-vector, or three floats or ints.
//
// It has the members of std::vector that its users need, with the same meaning; growing past
// what fits inside moves the elements to a block of `Allocator` (a stateless allocator: bulk
// arrays take CBulkAllocator), whose address and capacity then take the place of the elements.
// Allocation failures throw std::bad_alloc, like std::vector, and so does a size past 2^31 - 1
// elements.
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

template <class T, class Allocator = std::allocator<T>, size_t kInlineBytes = 12>
class CSmallArray {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);
  static_assert(std::is_empty_v<Allocator>);
  using Traits = std::allocator_traits<Allocator>;
  // Inside: the elements. On the heap: the block's address, then its capacity.
  static constexpr size_t kStorageBytes = std::max(kInlineBytes, sizeof(T*) + sizeof(uint32_t));
  static constexpr size_t kStorageAlignment = std::max(alignof(T), alignof(uint32_t));
  // The top bit of the size word tells that the elements are on the heap.
  static constexpr uint32_t kOnHeapBit = uint32_t{1} << 31;
  static constexpr size_t kMaxSize = kOnHeapBit - 1;

 public:
  using value_type = T;
  using size_type = size_t;
  using iterator = T*;
  using const_iterator = const T*;
  using reference = T&;
  using const_reference = const T&;
  // How many elements fit inside the array itself.
  static constexpr uint32_t kInlineCapacity =
      sizeof(T) <= kStorageBytes && alignof(T) <= alignof(std::max_align_t)
          ? static_cast<uint32_t>(kStorageBytes / sizeof(T))
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

  size_t size() const { return state_ & ~kOnHeapBit; }
  size_t capacity() const { return OnHeap() ? HeapCapacity() : kInlineCapacity; }
  bool empty() const { return size() == 0; }
  T* data() { return OnHeap() ? HeapBlock() : reinterpret_cast<T*>(storage_); }
  const T* data() const { return OnHeap() ? HeapBlock() : reinterpret_cast<const T*>(storage_); }
  T* begin() { return data(); }
  T* end() { return data() + size(); }
  const T* begin() const { return data(); }
  const T* end() const { return data() + size(); }
  T& operator[](size_t i) { return data()[i]; }
  const T& operator[](size_t i) const { return data()[i]; }
  T& at(size_t i) { return i < size() ? data()[i] : throw std::out_of_range("CSmallArray::at"); }
  const T& at(size_t i) const {
    return i < size() ? data()[i] : throw std::out_of_range("CSmallArray::at");
  }
  T& front() { return data()[0]; }
  const T& front() const { return data()[0]; }
  T& back() { return data()[size() - 1]; }
  const T& back() const { return data()[size() - 1]; }

  void clear() { SetSize(0); }
  // Empties the array and gives back its heap block.
  void reset() noexcept { Release(); }
  void pop_back() { --state_; }
  void reserve(size_t n) {
    if (n > capacity()) Grow(n, size());
  }
  // New elements are value-initialised.
  void resize(size_t n) { resize(n, T{}); }
  void resize(size_t n, const T& value) {
    const T copy = value;  // `value` may be an element that growing moves
    const size_t old = size();
    ResizeForOverwrite(n);
    std::fill(data() + std::min(old, n), data() + n, copy);
  }
  // Sets the size without initialising new elements: for a caller that overwrites them all.
  void ResizeForOverwrite(size_t n) {
    reserve(n);
    SetSize(n);
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
      if (n > capacity()) {
        CSmallArray copy;
        copy.Grow(n, 0);
        std::copy(first, last, copy.data());
        copy.SetSize(n);
        *this = std::move(copy);
        return;
      }
      std::copy(first, last, data());
      SetSize(n);
    } else {
      for (; first != last; ++first) push_back(*first);
    }
  }
  void push_back(const T& value) {
    const T copy = value;  // `value` may be an element that growing moves
    const size_t n = size();
    if (n == capacity()) Grow(n < 4 ? 4 : 2 * n, n);
    data()[n] = copy;
    ++state_;
  }

  friend bool operator==(const CSmallArray& a, const CSmallArray& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }
  template <class OtherAllocator>
  friend bool operator==(const CSmallArray& a, const std::vector<T, OtherAllocator>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }

 private:
  bool OnHeap() const { return (state_ & kOnHeapBit) != 0; }
  T* HeapBlock() const {
    T* block;
    std::memcpy(&block, storage_, sizeof block);
    return block;
  }
  uint32_t HeapCapacity() const {
    uint32_t capacity;
    std::memcpy(&capacity, storage_ + sizeof(T*), sizeof capacity);
    return capacity;
  }
  // `n` is at most the capacity.
  void SetSize(size_t n) { state_ = (state_ & kOnHeapBit) | static_cast<uint32_t>(n); }
  // Moves the first `keep` elements into a heap block of at least `n` elements.
  void Grow(size_t n, size_t keep) {
    if (n > kMaxSize) throw std::bad_alloc();
    Allocator allocator;
    T* block = Traits::allocate(allocator, n);
    if (keep) std::memcpy(static_cast<void*>(block), data(), keep * sizeof(T));
    Release();
    const auto capacity = static_cast<uint32_t>(n);
    std::memcpy(storage_, &block, sizeof block);
    std::memcpy(storage_ + sizeof(T*), &capacity, sizeof capacity);
    state_ = kOnHeapBit | static_cast<uint32_t>(keep);
  }
  // Gives the heap block back; the elements are inside again, none of them kept.
  void Release() {
    if (OnHeap()) {
      Allocator allocator;
      Traits::deallocate(allocator, HeapBlock(), HeapCapacity());
    }
    state_ = 0;
  }
  // Takes `other`'s elements; `other` is left empty. This array holds nothing of its own.
  void TakeFrom(CSmallArray& other) {
    if (other.OnHeap())
      std::memcpy(storage_, other.storage_, sizeof(T*) + sizeof(uint32_t));
    else if (other.size() != 0)
      std::memcpy(storage_, other.storage_, other.size() * sizeof(T));  // the elements held
    state_ = other.state_;
    other.state_ = 0;
  }

  alignas(kStorageAlignment) unsigned char storage_[kStorageBytes];
  uint32_t state_ = 0;  // the size, and kOnHeapBit
};

// What a reader calls before it overwrites every element.
template <class T, class Allocator, size_t kInlineBytes>
void ResizeForOverwrite(CSmallArray<T, Allocator, kInlineBytes>& values, size_t n) {
  values.ResizeForOverwrite(n);
}

}  // namespace KX
