#include "app/cli/describe.h"

#include <map>
#include <nlohmann/json.hpp>
#include <unordered_map>
#include <unordered_set>

#include "control/control.h"
#include "core/corva.h"
#include "core/text.h"
#include "image/thumbnail.h"
#include "scene/geometry.h"
#include "scene/node.h"

namespace KX::cli {

namespace {

std::string Name(const CBase& object) { return ToUtf8(object.name); }

std::string VersionText(int32_t version) {
  char text[32];
  std::snprintf(text, sizeof text, "%d.%02d", version / 100, version % 100);
  return text;
}

// Every object the document holds, each once, in the order a save would write them: the
// thumbnail, the extended information, then depth first from the roots through owned references.
std::vector<CBase*> AllObjects(const CPersistContext& document) {
  std::vector<CBase*> order;
  std::unordered_set<const CBase*> seen;
  class CCollector final : public CReferenceVisitor {
   public:
    std::vector<CBase*> owned;
    void Owned(CBase* target, void*, void (*)(void*)) override { owned.push_back(target); }
  };
  auto walk = [&](CBase* start) {
    std::vector<CBase*> pending{start};
    while (!pending.empty()) {
      CBase* object = pending.back();
      pending.pop_back();
      if (!object || !seen.insert(object).second) continue;
      order.push_back(object);
      CCollector collector;
      object->VisitReferences(collector);
      // Reversed onto the stack so that the first reference is walked first.
      pending.insert(pending.end(), collector.owned.rbegin(), collector.owned.rend());
    }
  };
  walk(document.thumbnail.get());
  for (const auto& entry : document.extInfo) walk(entry.get());
  for (const auto& root : document.roots) walk(root.get());
  return order;
}

std::string ChainText(const CControl* head) {
  std::string text;
  for (; head; head = head->next.get()) {
    if (!text.empty()) text += ", ";
    text += head->GetRuntimeClass()->className;
    if (!head->name.empty()) text += " \"" + Name(*head) + "\"";
  }
  return text;
}

void PrintNode(std::FILE* out, const CSpatial& object, int depth) {
  std::fprintf(out, "%*s%s \"%s\"", depth * 2, "", object.GetRuntimeClass()->className,
               Name(object).c_str());
  if (object.controllers) std::fprintf(out, "  controllers: %s", ChainText(object.controllers.get()).c_str());
  if (const auto* geometry = KindOf<CGeometry>(&object); geometry && geometry->material)
    std::fprintf(out, "  material: %s \"%s\"", geometry->material->GetRuntimeClass()->className,
                 Name(*geometry->material).c_str());
  std::fprintf(out, "\n");
  if (const auto* node = KindOf<CNode>(&object))
    for (const auto& child : node->children)
      if (child) PrintNode(out, *child, depth + 1);
}

}  // namespace

void PrintSummary(std::FILE* out, const std::string& path, const CPersistContext& document) {
  const bool old = document.version < kFirstNewLayoutVersion;
  std::fprintf(out, "%s\n  format: %s, stream version %s%s\n", path.c_str(),
               old ? "KXCorva" : "_KXBrix", VersionText(document.version).c_str(),
               old ? " (old layout)" : "");
  if (const auto* thumbnail = KindOf<CThumbnail>(document.thumbnail.get()))
    std::fprintf(out, "  thumbnail: %d x %d pixels\n", thumbnail->picture.width,
                 thumbnail->picture.height);
  else
    std::fprintf(out, "  thumbnail: none\n");
  std::fprintf(out, "  extended information: %zu record(s)\n", document.extInfo.size());
  for (const auto& entry : document.extInfo)
    std::fprintf(out, "    %s \"%s\"\n", entry->GetRuntimeClass()->className, Name(*entry).c_str());
  std::fprintf(out, "  roots: %zu\n", document.roots.size());
  for (const auto& root : document.roots)
    std::fprintf(out, "    %s \"%s\"\n", root->GetRuntimeClass()->className, Name(*root).c_str());
  std::map<std::string, int> perClass;
  const auto objects = AllObjects(document);
  for (const CBase* object : objects) ++perClass[object->GetRuntimeClass()->className];
  std::fprintf(out, "  objects: %zu\n", objects.size());
  for (const auto& [name, count] : perClass) std::fprintf(out, "    %-24s %d\n", name.c_str(), count);
}

void PrintTree(std::FILE* out, const CPersistContext& document) {
  for (const auto& root : document.roots) {
    if (const auto* spatial = KindOf<CSpatial>(root.get()))
      PrintNode(out, *spatial, 0);
    else
      std::fprintf(out, "%s \"%s\"\n", root->GetRuntimeClass()->className, Name(*root).c_str());
  }
}

std::string DocumentJson(const std::string& path, const CPersistContext& document) {
  const auto objects = AllObjects(document);
  std::unordered_map<const CBase*, int32_t> ids;
  for (size_t i = 0; i < objects.size(); ++i) ids[objects[i]] = static_cast<int32_t>(i + 1);
  auto idOf = [&](const CBase* object) {
    const auto it = ids.find(object);
    return it == ids.end() ? 0 : it->second;
  };

  class CReferenceLister final : public CReferenceVisitor {
   public:
    std::vector<const CBase*> owned, plain;
    void Owned(CBase* target, void*, void (*)(void*)) override { owned.push_back(target); }
    void Plain(CBase* target, void*, void (*)(void*)) override { plain.push_back(target); }
  };

  nlohmann::ordered_json json;
  json["file"] = path;
  json["format"] = document.version < kFirstNewLayoutVersion ? "KXCorva" : "_KXBrix";
  json["streamVersion"] = document.version;
  json["thumbnail"] = idOf(document.thumbnail.get());
  json["extInfo"] = nlohmann::json::array();
  for (const auto& entry : document.extInfo) json["extInfo"].push_back(idOf(entry.get()));
  json["roots"] = nlohmann::json::array();
  for (const auto& root : document.roots) json["roots"].push_back(idOf(root.get()));
  json["objects"] = nlohmann::json::array();
  for (CBase* object : objects) {
    nlohmann::ordered_json entry;
    entry["id"] = idOf(object);
    entry["class"] = object->GetRuntimeClass()->className;
    entry["name"] = Name(*object);
    CReferenceLister lister;
    object->VisitReferences(lister);
    entry["owns"] = nlohmann::json::array();
    for (const CBase* target : lister.owned) entry["owns"].push_back(idOf(target));
    entry["refersTo"] = nlohmann::json::array();
    for (const CBase* target : lister.plain) entry["refersTo"].push_back(idOf(target));
    json["objects"].push_back(std::move(entry));
  }
  return json.dump(2);
}

}  // namespace KX::cli
