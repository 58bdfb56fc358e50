#pragma once
// The generators build scenes through the library's own operations; one that fails means the
// generator is wrong, and the benchmark must not go on with a scene other than the one it names.
#include <cstdio>
#include <cstdlib>

#include "core/status.h"

namespace KX {

inline void Require(Status status) {
  if (Failed(status)) {
    std::fprintf(stderr, "scene generator: %s\n", StatusText(status));
    std::abort();
  }
}

}  // namespace KX
