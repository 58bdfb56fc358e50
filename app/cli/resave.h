#pragma once
// `recaster resave`: brings any container file to the current layout as it is, nothing converted.
#include <string>

#include "app/texts.h"
#include "object/container.h"

namespace KX::cli {

// What a resave writes of a loaded document: every root in its order, the thumbnail and the
// extended information, as loaded.
Status PrepareResaveDocument(const CPersistContext& source, CPersistContext& target);

// Loads INPUT and writes its whole document to OUTPUT in the current layout, with the output
// rules of `convert`. Answers the exit code: 0 written, 2 usage (the output exists without
// `force`, or is the input itself), 5 load failed, 6 save failed.
int RunResave(const CTextTable& texts, const std::string& input, const std::string& output,
              bool force);

}  // namespace KX::cli
