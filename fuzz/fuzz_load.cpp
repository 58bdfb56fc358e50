// Feeds arbitrary bytes to the scene loader. Whatever loads must survive being searched,
// duplicated, saved, loaded again and saved again to the same bytes.
#include <cstdint>
#include <cstdlib>

#include "support/test_classes.h"
#include "core/container.h"
#include "core/corva.h"

namespace {

std::vector<uint8_t> Save(KX::CPersistContext& context) {
  KX::CMemoryIo out;
  if (KX::Failed(KX::SaveToStream(context, out, 0))) std::abort();
  return out.TakeBytes();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool registered = (KX::test::RegisterForTests(), true);
  (void)registered;

  KX::CPersistContext context;
  KX::CMemoryIo in({data, size});
  if (KX::Failed(KX::LoadFromStream(context, in, 0))) return 0;

  for (const auto& root : context.roots) {
    std::vector<KX::CBase*> all;
    root->FindObjects(all, std::nullopt, nullptr, false);
    root->FindObject(u"x", &KX::CCorva::classRecord, true);
    KX::DuplicateMap map;
    KX::CRefPtr<KX::CBase> copy;
    if (KX::Succeeded(root->Duplicate(copy, map)))
      if (auto* corva = KX::KindOf<KX::CCorva>(copy.get())) corva->RemapReferences(map);
    root->GetSaveSize();
    root->GetMemorySize();
  }

  const auto first = Save(context);
  KX::CPersistContext again;
  KX::CMemoryIo reread(first);
  if (KX::Failed(KX::LoadFromStream(again, reread, 0))) std::abort();
  if (Save(again) != first) std::abort();
  return 0;
}
