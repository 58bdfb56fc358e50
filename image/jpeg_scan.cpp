#include "image/jpeg_scan.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

#include <jpeglib.h>

namespace KX {

namespace {

// The walk looks at this many bits at a time. One look finds every symbol whose code lies
// within them, up to the end of the block; 16 KiB of entries per table.
constexpr int kLookBits = 12;

// What a coefficient symbol does to the index, as the library's loop over a block has it: a run
// of zeros and one coefficient, sixteen zeros, or the end of the block (0).
constexpr int AdvanceFor(uint8_t symbol) {
  const int run = symbol >> 4;
  if ((symbol & 15) != 0) return run + 1;
  return run == 15 ? 16 : 0;
}

// A look-up entry, 0 when no code lies within the bits looked at. Otherwise it describes the
// symbols that lie within them one after the other (the last may end with extra bits beyond
// them), stopping after an end of block:
//   bits  0-4   the bits of the first symbol with its extra bits
//   bits  5-9   how far the first moves the coefficient index on (0: it ends the block)
//   bits 10-14  the bits of all the symbols
//   bits 15-21  how far all of them move the index on
//   bits 22-28  how far all but the last move it on: they can all be taken when the index
//               stays inside the block until the last
//   bit  29     the last ends the block
// A DC entry has its one symbol only.
using Entry = uint32_t;

// Where each field starts, and its width.
constexpr int kFirstBitsAt = 0, kFirstAdvanceAt = 5, kBitsAt = 10, kAdvanceAt = 15,
              kAdvanceBeforeLastAt = 22, kEndsBlockAt = 29;
constexpr int kBitsWidth = 5, kAdvanceWidth = 7;

// What the fields must hold. A symbol's code lies within the look and its extra bits (a size
// of at most 15) may reach past it: the bits of the first, or of all, are at most the look's
// width and 15. One symbol moves the index on by at most 16 (sixteen zeros); Build stops
// adding symbols once the index reaches 64, so all of them move it at most 63 + 16, and all
// but the last at most 63.
constexpr int kMaxExtraBits = 15;
constexpr int kMaxAdvance = 16;
constexpr int kMaxBits = kLookBits + kMaxExtraBits;
constexpr int LargestAdvance() {
  int largest = 0;
  for (int symbol = 0; symbol < 256; ++symbol)
    largest = std::max(largest, AdvanceFor(static_cast<uint8_t>(symbol)));
  return largest;
}
static_assert(LargestAdvance() == kMaxAdvance);
static_assert(kMaxBits < (1 << kBitsWidth), "the bits of the symbols outgrow their fields");
static_assert(kMaxAdvance < (1 << kBitsWidth), "one symbol's advance outgrows its field");
static_assert(63 + kMaxAdvance < (1 << kAdvanceWidth), "the advance of a look outgrows its field");
static_assert(kFirstBitsAt + kBitsWidth <= kFirstAdvanceAt &&
                  kFirstAdvanceAt + kBitsWidth <= kBitsAt && kBitsAt + kBitsWidth <= kAdvanceAt &&
                  kAdvanceAt + kAdvanceWidth <= kAdvanceBeforeLastAt &&
                  kAdvanceBeforeLastAt + kAdvanceWidth <= kEndsBlockAt &&
                  kEndsBlockAt < 8 * static_cast<int>(sizeof(Entry)),
              "the fields of an entry overlap or outgrow it");
// Bits::Drop takes at most 32 bits at a time.
static_assert(kMaxBits <= 32, "a look's bits cannot be dropped at once");

struct Symbols {
  int firstBits = 0, firstAdvance = 0, bits = 0, advance = 0, advanceBeforeLast = 0;
  bool endsBlock = false;
};

constexpr Entry MakeEntry(const Symbols& s) {
  return static_cast<Entry>(s.firstBits) << kFirstBitsAt |
         static_cast<Entry>(s.firstAdvance) << kFirstAdvanceAt |
         static_cast<Entry>(s.bits) << kBitsAt | static_cast<Entry>(s.advance) << kAdvanceAt |
         static_cast<Entry>(s.advanceBeforeLast) << kAdvanceBeforeLastAt |
         static_cast<Entry>(s.endsBlock) << kEndsBlockAt;
}
constexpr int Field(Entry e, int at, int width) {
  return static_cast<int>((e >> at) & ((Entry{1} << width) - 1));
}
constexpr int FirstBitsOf(Entry e) {
  return Field(e, kFirstBitsAt, kBitsWidth);
}
constexpr int FirstAdvanceOf(Entry e) {
  return Field(e, kFirstAdvanceAt, kBitsWidth);
}
constexpr int BitsOf(Entry e) {
  return Field(e, kBitsAt, kBitsWidth);
}
constexpr int AdvanceOf(Entry e) {
  return Field(e, kAdvanceAt, kAdvanceWidth);
}
constexpr int AdvanceBeforeLastOf(Entry e) {
  return Field(e, kAdvanceBeforeLastAt, kAdvanceWidth);
}
constexpr bool EndsBlock(Entry e) {
  return Field(e, kEndsBlockAt, 1) != 0;
}
// The fields read back what was packed, at their largest.
static_assert(FirstBitsOf(MakeEntry({kMaxBits, kMaxAdvance, kMaxBits, 63 + kMaxAdvance, 63, true})) ==
                  kMaxBits &&
              FirstAdvanceOf(MakeEntry({kMaxBits, kMaxAdvance, 0, 0, 0, false})) == kMaxAdvance &&
              BitsOf(MakeEntry({0, 0, kMaxBits, 0, 0, false})) == kMaxBits &&
              AdvanceOf(MakeEntry({0, 0, 0, 63 + kMaxAdvance, 0, false})) == 63 + kMaxAdvance &&
              AdvanceBeforeLastOf(MakeEntry({kMaxBits, kMaxAdvance, kMaxBits, 63 + kMaxAdvance,
                                             63, true})) == 63 &&
              EndsBlock(MakeEntry({0, 0, 0, 0, 0, true})));

// One Huffman table as the walk reads it: the look-up, and the library's own canonical decoding
// for codes longer than the look.
struct Table {
  std::array<Entry, size_t{1} << kLookBits> look{};
  int32_t maxCode[17] = {};      // largest code of each length; -1 when there is none
  int32_t valueOffset[17] = {};  // the symbol of code c of length l is values[c + valueOffset[l]]
  int32_t count = 0;             // number of symbols
  uint8_t values[256] = {};
};

// The number of symbols a definition lists, or -1 past the 256 the library allows.
int SymbolCount(const JHUFF_TBL& definition) {
  int count = 0;
  for (int length = 1; length <= 16; ++length) count += definition.bits[length];
  return count <= 256 ? count : -1;
}

// Builds the table the library built from the same definition; false for a definition the
// library would have refused, or a DC symbol it would have.
bool Build(const JHUFF_TBL& definition, bool dc, Table& table) {
  const int symbols = SymbolCount(definition);
  if (symbols < 0) return false;
  std::copy_n(definition.huffval, symbols, table.values);
  // First the code that starts each look: its length (0: none) and symbol.
  constexpr size_t kLooks = size_t{1} << kLookBits;
  auto lengthAt = std::make_unique<uint8_t[]>(kLooks);
  auto symbolAt = std::make_unique<uint8_t[]>(kLooks);
  std::fill_n(lengthAt.get(), kLooks, 0);
  int32_t code = 0;
  int32_t count = 0;
  for (int length = 1; length <= 16; ++length) {
    const int n = definition.bits[length];
    table.valueOffset[length] = count - code;
    table.maxCode[length] = n != 0 ? code + n - 1 : -1;
    for (int i = 0; i < n; ++i, ++code, ++count) {
      const uint8_t symbol = definition.huffval[count];
      if (dc && symbol > 15) return false;
      if (length > kLookBits) continue;
      const int spread = kLookBits - length;
      const size_t first = static_cast<size_t>(code) << spread;
      std::fill_n(lengthAt.get() + first, size_t{1} << spread, static_cast<uint8_t>(length));
      std::fill_n(symbolAt.get() + first, size_t{1} << spread, symbol);
    }
    // No code may be all ones: the library refuses a table that needs one.
    if (code >= (int32_t{1} << length)) return false;
    code <<= 1;
  }
  table.count = count;

  // Then the run of symbols within each look.
  for (size_t look = 0; look < kLooks; ++look) {
    Symbols s;
    int used = 0;  // bits of the look taken by the symbols so far
    for (int taken = 0;; ++taken) {
      // The code at `used`, found by shifting it to the front of a look.
      const size_t at = (look << used) & (kLooks - 1);
      const int length = lengthAt[at];
      if (length == 0 || length > kLookBits - used) break;
      const uint8_t symbol = symbolAt[at];
      const int size = dc ? symbol : symbol & 15;
      const int advance = dc ? 0 : AdvanceFor(symbol);
      if (taken == 0) {
        s.firstBits = length + size;
        s.firstAdvance = advance;
      }
      s.advanceBeforeLast = s.advance;
      s.advance += advance;
      s.bits = used + length + size;
      used = s.bits;
      s.endsBlock = advance == 0;
      // Past 63 the block has ended whatever follows (and the advances keep to their bits).
      if (dc || s.endsBlock || used >= kLookBits || s.advance >= 64) break;
    }
    table.look[look] = s.firstBits != 0 ? MakeEntry(s) : 0;
  }
  return true;
}

// The tables built before on this thread, with the definitions they came from. The pictures of
// a file mostly share their tables (an encoder's standard ones), and building one costs more
// than walking a small picture does.
class CTableCache {
 public:
  // The table for `definition`, built now when none was kept for it and `mayBuild`; null for a
  // definition the library would have refused, or one not kept when building is not allowed. A
  // table answered for the scan `scan` stays while that scan is walked: only tables of other
  // scans make room for new ones.
  const Table* Find(const JHUFF_TBL* definition, bool dc, uint64_t scan, bool mayBuild) {
    if (definition == nullptr) return nullptr;
    const int symbols = SymbolCount(*definition);
    if (symbols < 0) return nullptr;
    for (Slot& slot : slots_) {
      if (!slot.built || slot.dc != dc ||
          std::memcmp(slot.bits, definition->bits, sizeof slot.bits) != 0 ||
          std::memcmp(slot.table.values, definition->huffval, static_cast<size_t>(symbols)) != 0)
        continue;
      slot.scan = scan;
      return &slot.table;
    }
    if (!mayBuild) return nullptr;
    Slot* free = nullptr;
    for (size_t i = 0; i < kSlots && free == nullptr; ++i, next_ = (next_ + 1) % kSlots)
      if (slots_[next_].scan != scan) free = &slots_[next_];
    if (free == nullptr) return nullptr;  // a scan names at most eight tables: never
    free->built = Build(*definition, dc, free->table);
    if (!free->built) return nullptr;
    free->dc = dc;
    std::memcpy(free->bits, definition->bits, sizeof free->bits);
    free->scan = scan;
    return &free->table;
  }

 private:
  struct Slot {
    bool built = false;
    bool dc = false;
    uint8_t bits[17] = {};
    uint64_t scan = 0;  // the scan that used the table last
    Table table;
  };
  static constexpr size_t kSlots = 2 * NUM_HUFF_TBLS;
  std::array<Slot, kSlots> slots_;
  size_t next_ = 0;  // where the search for room to build starts
};

// True when one of the eight bytes of `word` is 0xFF.
bool HasFF(uint64_t word) {
  const uint64_t x = ~word;
  return ((x - 0x0101010101010101ULL) & ~x & 0x8080808080808080ULL) != 0;
}

// The coded bytes as bits, with the byte stuffing undone, up to the next marker.
struct Bits {
  const uint8_t* p;
  const uint8_t* end;
  uint64_t acc = 0;  // the next bits, first at the top; zeros below the `n` that count
  int n = 0;
  bool stopped = false;  // a marker (or the end of the bytes) is next: no more data comes

  Bits(const uint8_t* data, size_t length) : p(data), end(data + length) {}

  // Tops the bits up to 56 or more, unless a marker comes first.
  void Fill() {
    while (n <= 56 && !stopped) {
      if (end - p >= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        if (!HasFF(word)) {
          // Eight plain bytes: take as many whole ones as fit, in one step.
          word = __builtin_bswap64(word);
          const int take = (63 - n) >> 3;
          acc |= (word >> n) & ~(~uint64_t{0} >> (n + 8 * take));
          p += take;
          n += 8 * take;
          return;
        }
      }
      if (p == end) {
        stopped = true;
        return;
      }
      const uint8_t byte = *p;
      if (byte == 0xFF) {
        // FF 00 stands for an FF of data; FF and anything else is a marker.
        if (end - p < 2 || p[1] != 0) {
          stopped = true;
          return;
        }
        p += 2;
      } else {
        ++p;
      }
      acc |= uint64_t{byte} << (56 - n);
      n += 8;
    }
  }

  uint32_t Look() const { return static_cast<uint32_t>(acc >> (64 - kLookBits)); }

  // Drops `count` bits (at most 32); false when the data does not hold them.
  bool Drop(int count) {
    if (count > n) return false;
    acc <<= count;
    n -= count;
    return true;
  }

  // The marker `second` (after an FF) follows the bits read so far, with nothing but the
  // padding of the last byte before it: the library finds it with nothing to discard.
  bool MarkerFollows(uint8_t second) const {
    return n < 8 && end - p >= 2 && p[0] == 0xFF && p[1] == second;
  }

  // Moves past a restart marker: the bits start afresh behind it.
  void Restart() {
    p += 2;
    acc = 0;
    n = 0;
    stopped = false;
  }
};

// Decodes one symbol bit by bit, as the library does for long codes; false when no code of the
// table starts here (the library warns, or reads past the data).
bool LongSymbol(const Table& table, Bits& bits, uint8_t& symbol) {
  int32_t code = 0;
  for (int length = 1; length <= 16; ++length) {
    if (bits.n < 1) return false;
    code = code << 1 | static_cast<int32_t>(bits.acc >> 63);
    bits.Drop(1);
    if (code <= table.maxCode[length]) {
      const int32_t index = code + table.valueOffset[length];
      if (index < 0 || index >= table.count) return false;
      symbol = table.values[index];
      return true;
    }
  }
  return false;
}

// Reads the DC symbol and the coefficient symbols of one block with their extra bits.
bool SkipBlock(const Table& dc, const Table& ac, Bits& bits) {
  if (bits.n < 32) bits.Fill();
  if (const Entry e = dc.look[bits.Look()]; e != 0) {
    if (!bits.Drop(FirstBitsOf(e))) return false;
  } else {
    uint8_t symbol = 0;
    if (!LongSymbol(dc, bits, symbol) || !bits.Drop(symbol)) return false;
  }
  for (int k = 1;;) {
    if (bits.n < 32) bits.Fill();
    const Entry e = ac.look[bits.Look()];
    if (e != 0 && k + AdvanceBeforeLastOf(e) < 64) {
      // Every symbol of the look belongs to this block.
      if (!bits.Drop(BitsOf(e))) return false;
      if (EndsBlock(e)) return true;
      k += AdvanceOf(e);
    } else if (e != 0) {
      // The block ends within the look: one symbol at a time.
      if (!bits.Drop(FirstBitsOf(e))) return false;
      const int advance = FirstAdvanceOf(e);
      if (advance == 0) return true;
      k += advance;
    } else {
      uint8_t symbol = 0;
      if (!LongSymbol(ac, bits, symbol) || !bits.Drop(symbol & 15)) return false;
      const int advance = AdvanceFor(symbol);
      if (advance == 0) return true;
      k += advance;
    }
    if (k >= 64) return true;
  }
}

}  // namespace

bool JpegScanIsClean(const jpeg_decompress_struct& cinfo, const uint8_t* data, size_t length,
                     bool mayBuildTables) {
  if (data == nullptr || cinfo.progressive_mode || cinfo.arith_code || cinfo.Ss != 0 ||
      cinfo.Se != DCTSIZE2 - 1 || cinfo.Ah != 0 || cinfo.Al != 0)
    return false;
  const int blocks = cinfo.blocks_in_MCU;
  if (blocks <= 0 || blocks > D_MAX_BLOCKS_IN_MCU || cinfo.comps_in_scan <= 0 ||
      cinfo.comps_in_scan > MAX_COMPS_IN_SCAN)
    return false;

  // The tables the scan's components name, from this thread's cache.
  thread_local std::unique_ptr<CTableCache> cache;
  thread_local uint64_t scans = 0;
  if (!cache) cache.reset(new (std::nothrow) CTableCache);
  if (!cache) return false;
  const uint64_t scan = ++scans;
  const Table* dcOf[D_MAX_BLOCKS_IN_MCU];
  const Table* acOf[D_MAX_BLOCKS_IN_MCU];
  for (int b = 0; b < blocks; ++b) {
    const int c = cinfo.MCU_membership[b];
    if (c < 0 || c >= cinfo.comps_in_scan || cinfo.cur_comp_info[c] == nullptr) return false;
    const jpeg_component_info& component = *cinfo.cur_comp_info[c];
    const int dcNumber = component.dc_tbl_no;
    const int acNumber = component.ac_tbl_no;
    if (dcNumber < 0 || dcNumber >= NUM_HUFF_TBLS || acNumber < 0 || acNumber >= NUM_HUFF_TBLS)
      return false;
    dcOf[b] = cache->Find(cinfo.dc_huff_tbl_ptrs[dcNumber], true, scan, mayBuildTables);
    acOf[b] = cache->Find(cinfo.ac_huff_tbl_ptrs[acNumber], false, scan, mayBuildTables);
    if (dcOf[b] == nullptr || acOf[b] == nullptr) return false;
  }

  Bits bits(data, length);
  const uint64_t units = uint64_t{cinfo.MCUs_per_row} * cinfo.MCU_rows_in_scan;
  const unsigned interval = cinfo.restart_interval;
  unsigned toGo = interval;
  int nextRestart = 0;
  for (uint64_t unit = 0; unit < units; ++unit) {
    // The library looks for the restart marker before the unit that follows a full interval.
    if (interval != 0) {
      if (toGo == 0) {
        if (!bits.MarkerFollows(static_cast<uint8_t>(0xD0 + nextRestart))) return false;
        bits.Restart();
        nextRestart = (nextRestart + 1) & 7;
        toGo = interval;
      }
      --toGo;
    }
    for (int b = 0; b < blocks; ++b)
      if (!SkipBlock(*dcOf[b], *acOf[b], bits)) return false;
  }
  return bits.MarkerFollows(0xD9);
}

}  // namespace KX
