#include "scene/buffer.h"

#include <bit>

#include "core/alloc.h"
#include "object/archive.h"

namespace KX {

Status CBitArray::Resize(int32_t bits) {
  bits = std::max(bits, 0);
  const size_t wordsNeeded = (static_cast<size_t>(bits) + 31) / 32;
  KX_RETURN_IF_FAILED(TryAllocate([&] { words.assign(wordsNeeded, 0u); }));
  bitCount = bits;
  return kOk;
}

bool CBitArray::Test(int64_t bit) const {
  if (bit < 0 || bit >= bitCount) return false;
  const auto word = static_cast<size_t>(bit / 32);
  return word < words.size() && (words[word] >> (bit % 32) & 1u);
}

void CBitArray::Set(int64_t bit, bool value) {
  if (bit < 0 || bit >= bitCount) return;
  const auto word = static_cast<size_t>(bit / 32);
  if (word >= words.size()) return;
  const uint32_t mask = 1u << (bit % 32);
  words[word] = value ? words[word] | mask : words[word] & ~mask;
}

int64_t CBitArray::CountSet() const {
  // Whole words up to the bit count; in the last one only the bits below it.
  const int64_t bits = std::min<int64_t>(bitCount, 32 * static_cast<int64_t>(words.size()));
  int64_t n = 0;
  for (int64_t w = 0; w < bits / 32; ++w) n += std::popcount(words[static_cast<size_t>(w)]);
  if (bits % 32) n += std::popcount(words[static_cast<size_t>(bits / 32)] & ((1u << (bits % 32)) - 1));
  return n;
}

Status CBitArray::Persist(CArchive& ar) {
  int32_t storedWords = wordCount();
  int32_t presence = words.empty() ? 0 : 1;
  ar("bitCount", bitCount).Count(storedWords).Count(presence);
  if (ar.Loading()) {
    // The bit count is kept as stored; Test and Set never reach past the words that came with
    // it.
    words.clear();
    if (presence != 0) ar.Array("words", words, storedWords);
  } else {
    ar.Array("words", words, storedWords);
  }
  return ar.status();
}

Status CBitArray::Load(CReader& in) {
  CArchive ar(in);
  return Persist(ar);
}

Status CBitArray::Save(CWriter& out) const {
  // Writing only reads the fields it states.
  CArchive ar(out);
  return const_cast<CBitArray*>(this)->Persist(ar);
}

}  // namespace KX
