#pragma once
// The quick check of a JPEG blob, for the codec alone (image/codec.cpp is its only user).
//
// The codec's JPEG reader drives the JPEG library over the whole blob, keeps every row and
// refuses the picture on any library error, on a repeated or truncating warning, and on a few
// checks of its own. This check drives the same library over the same bytes the way that reader
// does (same source behaviour, same marker handling, same limits), but at one eighth of the size
// and, for a single scan, with every row but the last only entropy-decoded: every marker and every
// coded coefficient is still read and checked, only the pixels are not produced. A single
// Huffman-coded scan is first walked without the library (image/jpeg_scan.h), which can only
// vouch for a scan the library would read without a word; any doubt leaves it to the library.
// It answers "clean" only when nothing at all went wrong and the blob stays inside the shapes
// for which the smaller output provably cannot change the library's verdict: then the full
// decode is certain to succeed with the header values answered here. Anything else (any
// warning, any error, any segment the reader stores, sampling factors other than 1 and 2, CMYK,
// a size past the limits) answers "not clean", which says nothing: the full decode decides.
#include <cstddef>
#include <cstdint>

namespace KX {

struct JpegCheckLimits {
  int64_t maxSide = 0;    // the reader refuses a width or height above this
  int64_t maxPixels = 0;  // and more pixels than this
  // Asked only for a blob of several scans, whose coefficients the library holds in memory
  // under a cap: the cap the reader would set (0: none).
  long (*memoryCap)() = nullptr;
  // Reads a single scan through the library even where the quick walk could vouch for it: the
  // reference the walk is tested against.
  bool libraryScan = false;
  // Coded data from which the walk builds the tables it has not kept; a shorter scan is left to
  // the library, which reads it faster than the tables are built. Tests and the fuzzer walk
  // every scan (0).
  size_t walkTablesFrom = size_t{32} << 10;
};

struct JpegCheckResult {
  int32_t width = 0;
  int32_t height = 0;
  int32_t resolutionUnit = 0;  // 0 undefined, 1 per inch, 2 per centimetre
  double resolutionX = 0.0;
  double resolutionY = 0.0;
};

// True when the blob is clean in the sense above; `result` then holds what the full decode
// would tell about the picture (which never has alpha).
bool JpegCheckClean(const uint8_t* bytes, size_t length, const JpegCheckLimits& limits,
                    JpegCheckResult& result);

}  // namespace KX
