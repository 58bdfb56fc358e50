#pragma once
// What `recaster info` prints about a loaded file.
#include <cstdio>
#include <string>

#include "object/container.h"

namespace KX::cli {

// Header, thumbnail, extended information, roots and the number of objects per class.
void PrintSummary(std::FILE* out, const std::string& path, const CPersistContext& document);
// The node hierarchy below every root: class, name, controllers and materials.
void PrintTree(std::FILE* out, const CPersistContext& document);
// Every object the file holds, with every field it stores, as JSON (see docs/info-json.md).
void WriteDocumentJson(std::FILE* out, const std::string& path, const CPersistContext& document);

}  // namespace KX::cli
