// The quick walk over JPEG scans against the library: for any bytes, the check must give the same
// verdict and the same answers whether the walk may vouch for the scan or the library reads it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "image/jpeg_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  KX::JpegCheckLimits limits;
  limits.maxSide = 65500;
  limits.maxPixels = int64_t{1} << 24;
  limits.walkTablesFrom = 0;
  KX::JpegCheckLimits reference = limits;
  reference.libraryScan = true;
  KX::JpegCheckResult quick, library;
  const bool quickClean = KX::JpegCheckClean(data, size, limits, quick);
  const bool libraryClean = KX::JpegCheckClean(data, size, reference, library);
  if (quickClean != libraryClean || quick.width != library.width ||
      quick.height != library.height || quick.resolutionUnit != library.resolutionUnit ||
      quick.resolutionX != library.resolutionX || quick.resolutionY != library.resolutionY) {
    std::fprintf(stderr, "the walk says %s, the library %s\n", quickClean ? "clean" : "not clean",
                 libraryClean ? "clean" : "not clean");
    std::abort();
  }
  return 0;
}
