#pragma once
#include "content/content_data.h"

namespace KX {

// The summary record a prop carries: a copy of the first CRoseData found in `root`'s tree (name,
// key, parameters, its link to the rest of its chain, blocks and extra value) whose flag is the
// AND of the flags of all of them. kNothingDone and no record when the tree holds none.
Status BuildPropSummary(CBase* root, CRefPtr<CRoseData>& summary);

}  // namespace KX
