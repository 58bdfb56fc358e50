#include "app/prop_summary.h"

#include "core/alloc.h"

#include <unordered_set>

namespace KX {

Status BuildPropSummary(CBase* root, CRefPtr<CRoseData>& summary) {
  summary = nullptr;
  if (!root) return kErrBadArgument;
  std::vector<CBase*> found;
  root->FindObjects(found, std::nullopt, &CRoseData::classRecord, false);
  if (found.empty()) return kNothingDone;

  bool flag = true;
  std::unordered_set<const CBase*> seen;
  for (CBase* object : found)
    if (seen.insert(object).second) flag = flag && static_cast<CRoseData*>(object)->flag;

  const auto& first = *static_cast<CRoseData*>(found.front());
  CRefPtr<CRoseData> record;
  KX_RETURN_IF_FAILED(TryNew<CRoseData>(record));
  record->name = first.name;
  record->key = first.key;
  record->param1 = first.param1;
  record->param2 = first.param2;
  record->next = first.next;
  record->block1 = first.block1;
  record->block2 = first.block2;
  record->block3 = first.block3;
  record->extra = first.extra;
  record->flag = flag;
  record->modified = 1;
  summary = std::move(record);
  return kOk;
}

}  // namespace KX
