#pragma once
// Which walks go from an object into the parts it refers to, and in what order. Each part is a
// cube map (it fits every slot a material, texture or environment object has) carrying a probe
// record in its custom data chain; the probe notes name binding and remapping, and searches and
// collection list it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "object/container.h"
#include "object/custom_data.h"
#include "material/texture.h"

namespace KX::test {

class CWalkProbe : public CCustomData {
 public:
  static inline const CRuntimeClass classRecord{"CWalkProbe", &CCustomData::classRecord, 2, 0};
  const CRuntimeClass* GetRuntimeClass() const override { return &classRecord; }

  explicit CWalkProbe(std::u16string probeName) { name = std::move(probeName); }
  Status ResolveOwnNames(CBase*) override {
    ++resolved;
    return kOk;
  }
  Status RemapOwnReferences(DuplicateMap&) override {
    ++remapped;
    return kOk;
  }
  int resolved = 0;
  int remapped = 0;
};

struct WalkCase {
  const char* what;
  Walks walks;  // the walks that reach the parts
  size_t parts;
  // Puts the parts into the object's slots, the first part where the walks reach first.
  std::function<CRefPtr<CCorva>(const std::vector<CRefPtr<CCubeMap>>& parts)> build;
};

// The names of the probes in `objects`, in order.
inline std::vector<std::u16string> ProbeNames(const std::vector<CBase*>& objects) {
  std::vector<std::u16string> names;
  for (CBase* object : objects)
    if (KindOf<CWalkProbe>(object)) names.push_back(object->name);
  return names;
}

// Every walk from the built object reaches each part exactly when the case says so; searching
// and collecting meet the object's own chains first, then the parts in slot order.
inline void ExpectWalks(const WalkCase& c) {
  std::vector<CRefPtr<CCubeMap>> parts;
  std::vector<CRefPtr<CWalkProbe>> probes;
  std::vector<std::u16string> expectedOrder{u"own"};
  for (size_t i = 0; i < c.parts; ++i) {
    parts.emplace_back(new CCubeMap);
    probes.emplace_back(
        new CWalkProbe(u"part" + std::u16string(1, u'0' + static_cast<char16_t>(i))));
    ASSERT_EQ(parts[i]->AttachCustomData(probes[i].get()), kOk);
    expectedOrder.push_back(probes[i]->name);
  }
  const CRefPtr<CCorva> holder = c.build(parts);
  CRefPtr<CWalkProbe> own(new CWalkProbe(u"own"));
  ASSERT_EQ(holder->AttachCustomData(own.get()), kOk);
  const std::vector<std::u16string> ownOnly{u"own"};

  std::vector<CBase*> found;
  holder->FindObjects(found, std::nullopt, nullptr, false);
  EXPECT_EQ(ProbeNames(found), (c.walks & kSearch) ? expectedOrder : ownOnly) << "search";
  for (const auto& probe : probes)
    EXPECT_EQ(holder->FindObject(probe->name, nullptr, false),
              (c.walks & kSearch) ? probe.get() : nullptr);

  CPersistContext context;
  ASSERT_EQ(holder->CollectForSave(context), kOk);
  EXPECT_EQ(ProbeNames(context.saveList), (c.walks & kCollect) ? expectedOrder : ownOnly)
      << "collection";

  ASSERT_EQ(holder->ResolveNames(holder.get()), kOk);
  DuplicateMap none;
  ASSERT_EQ(holder->RemapReferences(none), kOk);
  EXPECT_EQ(own->resolved, 1);
  EXPECT_EQ(own->remapped, 1);
  for (const auto& probe : probes) {
    EXPECT_EQ(probe->resolved, (c.walks & kResolve) ? 1 : 0) << "name binding";
    EXPECT_EQ(probe->remapped, (c.walks & kRemap) ? 1 : 0) << "remapping";
  }
}

}  // namespace KX::test
