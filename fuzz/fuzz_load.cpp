// Feeds arbitrary bytes to the scene loader. Whatever loads must survive being searched,
// duplicated, listed field by field, saved, loaded again and saved again to the same bytes, and
// then everything the programs do after a load: listing, classification, the conversion into a
// prop and the prop's save, and the glTF export of the tree as loaded and as converted.
//
// Byte flips rarely make a valid reference to another object, and references are where the
// shape of a graph goes wrong; so half the mutations re-point stored object references at other
// ids of the same file.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>

#include "app/export/gltf_builder.h"
#include "app/export/gltf_writer.h"
#include "object/container.h"
#include "object/fields.h"
#include "object/persist.h"
#include "object/scene_object_base.h"
#include "support/after_load.h"
#include "support/test_classes.h"

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

// Exports the first root as glTF in both forms. Whatever the tree holds, the export answers a
// document or runs out of memory, and the document holds no value that JSON cannot carry
// (a number that is not finite would be written as null).
void CheckExport(const KX::CPersistContext& context) {
  auto* root =
      context.roots.empty() ? nullptr : KX::KindOf<KX::CSpatial>(context.roots.front().get());
  if (!root) return;
  KX::GltfScene scene;
  const KX::Status built = KX::BuildGltfScene(*root, scene);
  if (built == KX::kErrOutOfMemory) return;
  if (built != KX::kOk) std::abort();
  std::vector<const nlohmann::ordered_json*> pending{&scene.json};
  while (!pending.empty()) {
    const auto* value = pending.back();
    pending.pop_back();
    if (value->is_null()) std::abort();
    if (value->is_number_float() && !std::isfinite(value->get<double>())) std::abort();
    if (value->is_structured())
      for (const auto& item : *value) pending.push_back(&item);
  }
  std::vector<uint8_t> glb;
  const KX::Status encoded = KX::EncodeGlb(scene, glb);
  if (encoded != KX::kOk && encoded != KX::kErrOutOfMemory && encoded != KX::kErrFileSize)
    std::abort();
  std::vector<KX::GltfFile> files;
  const KX::Status laidOut = KX::LayOutGltf(scene, "fuzz.gltf", files);
  if (laidOut != KX::kOk && laidOut != KX::kErrOutOfMemory) std::abort();
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
  }

  const auto first = Save(context);
  KX::CPersistContext again;
  KX::CMemoryIo reread(first);
  if (KX::Failed(KX::LoadFromStream(again, reread, 0))) std::abort();
  if (Save(again) != first) std::abort();

  CheckExport(context);
  const KX::test::AfterLoadReport report = KX::test::RunAfterLoad(context);
  CheckExport(context);
  // A prop the conversion produced must save and load.
  if (KX::Succeeded(report.converted) && report.converted != KX::kNothingDone &&
      KX::Failed(report.propSaved))
    std::abort();
  return 0;
}

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize,
                                          unsigned int seed) {
  static const bool registered = (KX::test::RegisterForTests(), true);
  (void)registered;
  std::minstd_rand random(seed);
  if (random() % 2 == 0) {
    std::vector<uint64_t> offsets;
    std::vector<int32_t> ids;
    {
      KX::CPersistContext context;
      context.referenceOffsets = &offsets;
      KX::CMemoryIo in({data, size});
      if (KX::Succeeded(KX::LoadFromStream(context, in, 0)))
        for (const auto& entry : context.objects) ids.push_back(entry.first);
    }
    if (!ids.empty() && !offsets.empty()) {
      const int changes = 1 + static_cast<int>(random() % 3);
      for (int i = 0; i < changes; ++i) {
        const uint64_t at = offsets[random() % offsets.size()];
        const int32_t id = ids[random() % ids.size()];
        if (at + sizeof id <= size) std::memcpy(data + at, &id, sizeof id);
      }
      return size;
    }
  }
  return LLVMFuzzerMutate(data, size, maxSize);
}
