// Feeds arbitrary bytes to the scene loader. Whatever loads must survive being searched,
// duplicated, listed field by field, saved, loaded again and saved again to the same bytes.
#include <cstdint>
#include <cstdlib>

#include "support/test_classes.h"
#include "core/container.h"
#include "core/scene_object_base.h"
#include "core/fields.h"
#include "core/persist.h"

namespace {

// Takes every field and does nothing with it: what is checked is that listing an object names
// every byte of its record and stores the same bytes as a plain save.
class CIgnoreFields final : public KX::CFieldSink {
 public:
  void Level(const KX::CRuntimeClass&) override {}
  void Integer(const char*, int64_t) override {}
  void Unsigned(const char*, uint64_t) override {}
  void Number(const char*, double) override {}
  void Boolean(const char*, bool) override {}
  void Text(const char*, std::string_view) override {}
  void Reference(const char*, int32_t) override {}
  void Bytes(const char*, std::span<const uint8_t>) override {}
  void Absent(const char*) override {}
  void BeginList(const char*) override {}
  void EndList() override {}
  void BeginRecord(const char*) override {}
  void EndRecord() override {}
};

void CheckListing(const KX::CBase& object) {
  KX::CMemoryIo plain, listed;
  KX::CWriter plainOut(plain, 0);
  CIgnoreFields ignore;
  KX::CWriter listedOut(listed, 0, nullptr, &ignore);
  const KX::Status a = object.Save(plainOut);
  const KX::Status b = object.Save(listedOut);
  if (a != b || plain.bytes() != listed.bytes() || listedOut.UnlistedBytes() != 0) std::abort();
}

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
    for (const KX::CBase* object : all) CheckListing(*object);
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
