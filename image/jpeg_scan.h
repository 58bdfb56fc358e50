#pragma once
// A quick walk over the coded data of a sequential Huffman scan, for the JPEG check alone.
//
// Checking a picture means reading every code of its scan; the coefficients themselves are never
// needed. The library reads each code, then its extra bits, one after the other. This walk looks
// most codes up together with their extra bits in one step, and moves on without computing a
// value. It follows the library's reading exactly (the same tables, the same order of blocks
// in a unit, the same byte stuffing, restart markers and end of data), but it only ever says
// "clean": the data holds exactly the codes the scan needs, every code is in its table, every
// restart marker comes where and as the library expects it, and the end-of-image marker follows
// the last code with nothing in between. On such data the library reads the same codes and has
// nothing to warn about. Anything else (a code missing from a table, a marker where data should
// be, stray bytes, fill bytes, data cut short) answers "not decided", and the library reads the
// scan itself.
#include <cstddef>
#include <cstdint>

struct jpeg_decompress_struct;

namespace KX {

// True when the scan `cinfo` has just started (a single sequential Huffman-coded scan, the
// library's source standing at its first coded byte) is clean as above, given the `length`
// bytes from `data` on that the source still holds. False decides nothing. The walk keeps the
// tables it builds for the scans that follow on the same thread; without `mayBuildTables` it
// walks only with tables kept from before.
bool JpegScanIsClean(const jpeg_decompress_struct& cinfo, const uint8_t* data, size_t length,
                     bool mayBuildTables);

}  // namespace KX
