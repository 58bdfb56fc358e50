#include "app/cli/describe.h"

#include "app/cli/cli_io.h"

#include <cmath>
#include <map>
#include <unordered_set>

#include "app/cli/json_writer.h"
#include "object/control.h"
#include "object/fields.h"
#include "object/persist.h"
#include "object/scene_object_base.h"
#include "core/text.h"
#include "image/thumbnail.h"
#include "scene/geometry.h"
#include "scene/node.h"

namespace KX::cli {

namespace {

// Names come from files: printed with their control characters escaped.
std::string Name(const CBase& object) {
  return Printable(ToUtf8(object.name));
}

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
    void Owned(const CReference& ref) override { owned.push_back(ref.target); }
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
  if (object.controllers)
    std::fprintf(out, "  controllers: %s", ChainText(object.controllers.get()).c_str());
  if (const auto* geometry = KindOf<CGeometry>(&object); geometry && geometry->material)
    std::fprintf(out, "  material: %s \"%s\"", geometry->material->GetRuntimeClass()->className,
                 Name(*geometry->material).c_str());
  std::fprintf(out, "\n");
  if (const auto* node = KindOf<CNode>(&object))
    for (const auto& child : node->children)
      if (child) PrintNode(out, *child, depth + 1);
}

std::string Base64(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const uint32_t v = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
    for (int shift : {18, 12, 6, 0}) text += kDigits[(v >> shift) & 63];
  }
  if (const size_t left = bytes.size() - i; left > 0) {
    const uint32_t v = bytes[i] << 16 | (left == 2 ? bytes[i + 1] << 8 : 0);
    text += kDigits[(v >> 18) & 63];
    text += kDigits[(v >> 12) & 63];
    text += left == 2 ? kDigits[(v >> 6) & 63] : '=';
    text += '=';
  }
  return text;
}

// Writes the fields of one object as they are named, one member per class level, and keeps the
// versions of the levels for after them.
class CJsonFields final : public CFieldSink {
 public:
  explicit CJsonFields(CJsonWriter& json) : json_(json), base_(json.Depth()) {}

  std::vector<std::pair<const char*, int32_t>> versions;

  void Level(const CRuntimeClass& cls) override {
    versions.emplace_back(cls.className, cls.Version());
    OpenLevel(cls.className);
  }
  void Integer(const char* name, int64_t value) override {
    Name(name);
    json_.Integer(value);
  }
  void Unsigned(const char* name, uint64_t value) override {
    Name(name);
    json_.Unsigned(value);
  }
  void Number(const char* name, double value) override {
    Name(name);
    // JSON has no spelling for these; a text keeps them apart from a missing value.
    if (std::isnan(value))
      json_.String("nan");
    else if (std::isinf(value))
      json_.String(value > 0 ? "inf" : "-inf");
    else
      json_.Number(value);
  }
  void Boolean(const char* name, bool value) override {
    Name(name);
    json_.Boolean(value);
  }
  void Text(const char* name, std::string_view utf8) override {
    Name(name);
    json_.String(utf8);
  }
  void Reference(const char* name, int32_t id) override {
    Name(name);
    json_.Integer(id);
  }
  void Bytes(const char* name, std::span<const uint8_t> bytes) override {
    Name(name);
    json_.String(Base64(bytes));
  }
  void Absent(const char* name) override {
    Name(name);
    json_.Null();
  }
  void BeginList(const char* name) override {
    Name(name);
    json_.BeginList();
  }
  void EndList() override {
    if (json_.Depth() > base_ + 1) json_.EndList();
  }
  void BeginRecord(const char* name) override {
    Name(name);
    json_.BeginObject();
  }
  void EndRecord() override {
    if (json_.Depth() > base_ + 1) json_.EndObject();
  }

  // Closes the last level.
  void Finish() { json_.CloseTo(base_); }

 private:
  CJsonWriter& json_;
  size_t base_;  // the depth of the "fields" object

  void OpenLevel(const char* heading) {
    json_.CloseTo(base_);
    json_.Key(heading);
    json_.BeginObject();
  }
  void Name(const char* name) {
    // Fields a class writes before its first level are kept under a heading of their own.
    if (json_.Depth() == base_) OpenLevel("(record)");
    json_.Key(name ? name : "(unnamed)");  // ignored inside a list
  }
};

// A stream that only counts: the listing needs what Save names, not the bytes.
class CDiscardIo final : public CIoBuffer {
 public:
  bool IsEnd() const override { return true; }
  Status Read(void*, size_t, size_t, int32_t) override { return kErrStream; }
  Status Write(const void*, size_t count, int32_t) override {
    written_ += count;
    return kOk;
  }
  Status Skip(int64_t) override { return kErrStream; }
  uint64_t Tell() const override { return written_; }
  uint64_t Remaining() const override { return 0; }

 private:
  uint64_t written_ = 0;
};

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
  for (const auto& [name, count] : perClass)
    std::fprintf(out, "    %-24s %d\n", name.c_str(), count);
}

void PrintTree(std::FILE* out, const CPersistContext& document) {
  for (const auto& root : document.roots) {
    if (const auto* spatial = KindOf<CSpatial>(root.get()))
      PrintNode(out, *spatial, 0);
    else
      std::fprintf(out, "%s \"%s\"\n", root->GetRuntimeClass()->className, Name(*root).c_str());
  }
}

void WriteDocumentJson(std::FILE* out, const std::string& path, const CPersistContext& document) {
  const auto objects = AllObjects(document);
  // The listing's ids, held where a writer looks them up, so references inside the fields use
  // the same numbers.
  CPersistContext listing;
  for (size_t i = 0; i < objects.size(); ++i)
    listing.saveIds[objects[i]] = static_cast<int32_t>(i + 1);
  auto idOf = [&](const CBase* object) {
    const int32_t* id = object ? listing.saveIds.Find(object) : nullptr;
    return id ? *id : 0;
  };

  class CReferenceLister final : public CReferenceVisitor {
   public:
    std::vector<const CBase*> owned, plain;
    void Owned(const CReference& ref) override { owned.push_back(ref.target); }
    void Plain(const CReference& ref) override { plain.push_back(ref.target); }
  };
  auto idList = [&](CJsonWriter& json, const std::vector<const CBase*>& targets) {
    json.BeginList();
    for (const CBase* target : targets) json.Integer(idOf(target));
    json.EndList();
  };

  CJsonWriter json(out);
  json.BeginObject();
  json.Key("file");
  json.String(path);
  json.Key("format");
  json.String(document.version < kFirstNewLayoutVersion ? "KXCorva" : "_KXBrix");
  json.Key("streamVersion");
  json.Integer(document.version);
  json.Key("thumbnail");
  json.Integer(idOf(document.thumbnail.get()));
  json.Key("extInfo");
  json.BeginList();
  for (const auto& entry : document.extInfo) json.Integer(idOf(entry.get()));
  json.EndList();
  json.Key("roots");
  json.BeginList();
  for (const auto& root : document.roots) json.Integer(idOf(root.get()));
  json.EndList();
  json.Key("warnings");
  json.BeginList();
  for (const auto& warning : document.diagnostics.WarningLines()) json.String(JsonSafe(warning));
  json.EndList();
  json.Key("objects");
  json.BeginList();
  for (CBase* object : objects) {
    json.BeginObject();
    json.Key("id");
    json.Integer(idOf(object));
    json.Key("class");
    json.String(object->GetRuntimeClass()->className);
    json.Key("name");
    json.String(Name(*object));
    CReferenceLister lister;
    object->VisitReferences(lister);
    json.Key("owns");
    idList(json, lister.owned);
    json.Key("refersTo");
    idList(json, lister.plain);

    // The fields as a save would write them now: what a save prepares (an image's encoded
    // picture) is prepared first.
    json.Key("fields");
    json.BeginObject();
    CJsonFields fields(json);
    CDiscardIo discard;
    CWriter writer(discard, 0, &listing, &fields);
    Status status = object->PrepareSave(listing);
    if (Succeeded(status)) status = object->Save(writer);
    fields.Finish();
    json.EndObject();
    json.Key("versions");
    json.BeginObject();
    for (const auto& [className, version] : fields.versions) {
      json.Key(className);
      json.Integer(version);
    }
    json.EndObject();
    if (Failed(status)) {
      json.Key("error");
      json.String(StatusText(status));
    }
    json.EndObject();
  }
  json.EndList();
  json.EndObject();
  std::fputc('\n', out);
}

}  // namespace KX::cli
