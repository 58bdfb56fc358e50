#pragma once
// Generators of large scenes for benchmarks.
#include <cstdint>
#include <string>

#include "object/container.h"

namespace KX::bench {

// Fills `context` with `roots` roots, each the head of a chain of `chain` custom data records
// carrying `payloadBytes` bytes, every other one with author information attached: many small
// objects or a few large payloads, depending on the sizes.
void GenerateRecordScene(CPersistContext& context, int32_t roots, int32_t chain,
                         int32_t payloadBytes);

// Saves a generated scene to `path`; answers the file size, or -1.
int64_t WriteScene(CPersistContext& context, const std::string& path);

}  // namespace KX::bench
