#include "support/after_load.h"

#include <cstdio>

#include "app/classify.h"
#include "app/cli/describe.h"
#include "app/command_flow.h"
#include "app/convert.h"
#include "app/converter_ui.h"
#include "object/control.h"
#include "object/custom_data.h"
#include "core/io_buffer.h"
#include "object/scene_object_base.h"
#include "image/thumbnail.h"
#include "scene/node.h"

namespace KX::test {
namespace {

std::FILE* Discard() {
  static std::FILE* sink = std::fopen("/dev/null", "w");
  return sink;
}

// The plain references one object states.
class CPlainCollector final : public CReferenceVisitor {
 public:
  std::vector<CReference> plain;
  void Owned(const CReference&) override {}
  void Plain(const CReference& ref) override { plain.push_back(ref); }
};

}  // namespace

AfterLoadReport RunAfterLoad(CPersistContext& document) {
  AfterLoadReport report;
  if (std::FILE* out = Discard()) {
    cli::WriteDocumentJson(out, "input", document);
    cli::PrintTree(out, document);
    cli::PrintSummary(out, "input", document);
  }
  for (const auto& root : document.roots) {
    if (!root) continue;
    std::vector<CBase*> all;
    root->FindObjects(all, std::nullopt, nullptr, false);
    report.objectsFound += all.size();
    (void)root->FindObject(u"\x1f", &CCorva::classRecord, true);
    CPersistContext collect;
    root->CollectForSave(collect).Ignore();  // only that it ends
    if (auto* corva = KindOf<CCorva>(root.get())) {
      corva->ResolveNames(root.get()).Ignore();  // names may well be missing in crafted graphs
      DuplicateMap map;
      CRefPtr<CBase> copy;
      if (Succeeded(root->Duplicate(copy, map)))
        if (auto* copied = KindOf<CCorva>(copy.get())) copied->RemapReferences(map).Ignore();
    }
    (void)root->GetSaveSize();
  }

  // A scene goes the way the command takes it: the conversion starts from what the
  // classification searched, and the save from what the conversion found out. Anything else is
  // converted from scratch, which no command does, so that those passes meet every graph too.
  CSearchedTree searched;
  report.kind = ClassifyContent(document, &searched);
  CRefPtr<CNode> root(document.roots.empty() ? nullptr : KindOf<CNode>(document.roots.front().get()));
  if (!root) {
    report.converted = kNothingDone;
    return report;
  }
  CSilentUi ui;
  CConvertedTree converted;
  report.converted = report.kind == kKindScene || report.kind == kKindSingleObjectScene
                         ? ConvertSceneToProp(document, ui, report.kind, &searched, &converted)
                         : ConvertSceneToProp(document, ui);
  if (Failed(report.converted)) return report;
  CPersistContext prop;
  std::string detail;
  report.propSaved = PreparePropDocument(root.get(), KindOf<CThumbnail>(document.thumbnail.get()),
                                         prop, &detail, converted.mayHoldSummaries);
  if (Failed(report.propSaved)) return report;
  CMemoryIo bytes;
  report.propSaved = SaveToStream(prop, bytes, 0);
  if (Failed(report.propSaved)) return report;
  CPersistContext reread;
  const std::vector<uint8_t> saved = bytes.TakeBytes();
  CMemoryIo in(saved);
  report.propSaved = LoadFromStream(reread, in, 0);
  return report;
}

size_t PointPlainReferencesBack(CBase* root, CBase* target) {
  std::vector<CBase*> all;
  root->FindObjects(all, std::nullopt, nullptr, false);
  // FindObjects only follows what searches follow; take every object the statements reach.
  std::vector<CBase*> pending{root};
  std::vector<CBase*> reached;
  {
    class CEverything final : public CReferenceVisitor {
     public:
      std::vector<CBase*>* out;
      void Owned(const CReference& ref) override { out->push_back(ref.target); }
    } every;
    std::vector<CBase*> found;
    every.out = &found;
    while (!pending.empty()) {
      CBase* object = pending.back();
      pending.pop_back();
      bool seen = false;
      for (CBase* r : reached) seen |= r == object;
      if (seen) continue;
      reached.push_back(object);
      found.clear();
      object->VisitReferences(every);
      pending.insert(pending.end(), found.rbegin(), found.rend());
    }
  }
  size_t count = 0;
  for (CBase* holder : reached) {
    CPlainCollector collector;
    holder->VisitReferences(collector);
    for (const CReference& ref : collector.plain) {
      if (ref.Assign(target)) {
        ++count;
        continue;
      }
      // Objects before the holder in walk order reach it (or are at least on its way).
      for (CBase* candidate : reached) {
        if (candidate == holder) break;
        if (ref.Assign(candidate)) {
          ++count;
          break;
        }
      }
    }
  }
  return count;
}

CRefPtr<CBase> InScene(CBase* object) {
  CRefPtr<CNode> scene(new CNode);
  scene->name = u"SceneRoot";
  if (auto* spatial = KindOf<CSpatial>(object); spatial && !spatial->parent) {
    if (Succeeded(scene->AddChild(spatial))) return scene;
  }
  CRefPtr<CNode> holder(new CNode);
  holder->name = u"holder";
  if (auto* controller = KindOf<CControl>(object)) {
    if (Failed(holder->AttachController(controller))) return nullptr;
  } else if (auto* record = KindOf<CCustomData>(object)) {
    if (Failed(holder->AttachCustomData(record))) return nullptr;
  } else if (auto* corva = KindOf<CCorva>(object)) {
    holder->attachment = corva;
  }
  if (Failed(scene->AddChild(holder.get()))) return nullptr;
  return scene;
}

}  // namespace KX::test
