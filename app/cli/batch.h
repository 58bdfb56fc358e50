#pragma once
// `recaster batch`: converts many files, each in a worker process of its own, so that one broken
// file can neither stop nor disturb the others.
#include <string>
#include <vector>

#include "app/texts.h"

namespace KX::cli {

// Answers 0 when no file failed to load or save, 1 otherwise (2 for usage errors).
int RunBatch(const CTextTable& texts, const std::vector<std::string>& paths,
             const std::string& outputDir, int jobs, bool force, const std::string& reportPath);

}  // namespace KX::cli
