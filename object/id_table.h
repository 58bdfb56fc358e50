#pragma once
// The loader's table from object ids to load records. Files number their objects 1..n, nearly
// always densely, so ids up to a bound that grows with the records read sit in a flat array;
// any other id (negative, zero, far beyond the records) goes to a hash map, so that a hostile id
// cannot make the array huge.
#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

namespace KX {

struct CLoadRecord;

class CIdTable {
 public:
  using Entry = std::pair<int32_t, CLoadRecord*>;

  // Registers `record` under `id`; false (and nothing changes) when the id has a record already.
  // May throw std::bad_alloc.
  bool Insert(int32_t id, CLoadRecord* record) {
    if (Find(id)) return false;
    const auto slot = static_cast<uint64_t>(static_cast<int64_t>(id));
    if (id > 0 && slot < 2 * (static_cast<uint64_t>(size_) + 1024)) {
      if (slot >= dense_.size())
        dense_.resize(std::max<size_t>(static_cast<size_t>(slot) + 1, 2 * dense_.size()), nullptr);
      dense_[static_cast<size_t>(slot)] = record;
    } else {
      sparse_.emplace(id, record);
    }
    ++size_;
    ordered_.clear();
    return true;
  }

  CLoadRecord* Find(int32_t id) const {
    // An id that came before the array reached it stays in the map: look there too.
    if (id > 0 && static_cast<size_t>(id) < dense_.size())
      if (CLoadRecord* record = dense_[static_cast<size_t>(id)]) return record;
    if (sparse_.empty()) return nullptr;
    const auto it = sparse_.find(id);
    return it == sparse_.end() ? nullptr : it->second;
  }

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  void clear() {
    std::vector<CLoadRecord*>().swap(dense_);
    sparse_.clear();
    std::vector<Entry>().swap(ordered_);
    size_ = 0;
  }

  // Every entry in ascending id order. Valid until the next Insert or clear. May throw
  // std::bad_alloc.
  const std::vector<Entry>& InOrder() const {
    if (ordered_.size() == size_) return ordered_;
    ordered_.clear();
    ordered_.reserve(size_);
    // The array is in order already; only the few ids of the map are sorted, then merged in.
    std::vector<Entry> sparse(sparse_.begin(), sparse_.end());
    std::sort(sparse.begin(), sparse.end(),
              [](const Entry& a, const Entry& b) { return a.first < b.first; });
    auto next = sparse.begin();
    for (size_t id = 1; id < dense_.size(); ++id) {
      if (!dense_[id]) continue;
      for (; next != sparse.end() && next->first < static_cast<int32_t>(id); ++next)
        ordered_.push_back(*next);
      ordered_.emplace_back(static_cast<int32_t>(id), dense_[id]);
    }
    ordered_.insert(ordered_.end(), next, sparse.end());
    return ordered_;
  }
  auto begin() const { return InOrder().begin(); }
  auto end() const { return InOrder().end(); }

 private:
  std::vector<CLoadRecord*> dense_;  // by id; null where no record has the id
  std::unordered_map<int32_t, CLoadRecord*> sparse_;
  size_t size_ = 0;
  mutable std::vector<Entry> ordered_;
};

}  // namespace KX
