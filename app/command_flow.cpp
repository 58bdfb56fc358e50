#include "app/command_flow.h"

#include "app/classify.h"
#include "app/convert.h"
#include "app/prop_summary.h"
#include "app/texts.h"
#include "core/alloc.h"

namespace KX {

namespace {

std::string StatusDetail(Status status) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", static_cast<uint32_t>(status));
  return std::string("status ") + hex + " (" + StatusText(status) + ")";
}

bool keepScenesUntilExit = false;

// Hands the scene of `document` over to the end of the process when the tool asked for it: the
// pages go back to the system at once, where freeing a large graph object by object takes as
// long as a good part of the conversion.
struct CKeptAtExit {
  CPersistContext& document;
  ~CKeptAtExit() {
    if (!keepScenesUntilExit) return;
    try {
      static auto* kept = new std::vector<CRefPtr<CBase>>;
      for (const auto& root : document.roots) kept->push_back(root);
      if (document.thumbnail) kept->push_back(document.thumbnail);
      for (const auto& entry : document.extInfo) kept->push_back(entry);
    } catch (const std::bad_alloc&) {
      // What was not kept is freed as usual.
    }
  }
};

}  // namespace

void KeepScenesUntilExit() {
  keepScenesUntilExit = true;
}

Status CheckCompatibility(CPersistContext& document, CRefPtr<CNode>& root, IConverterUi& ui,
                          CConvertedTree* converted) {
  root = document.roots.empty() ? nullptr : KindOf<CNode>(document.roots.front().get());
  if (document.version >= kFirstNewLayoutVersion) {
    ui.ShowMessage(ui.Text(kTextAlreadyCompatible), kMessageWarning, "");
    return kNothingDone;
  }
  std::string detail;
  if (!root) {
    detail = document.roots.empty() ? "the file has no root object"
                                     : std::string("the first root is a ") +
                                           document.roots.front()->GetRuntimeClass()->className +
                                           ", not a node";
  } else {
    CSearchedTree searched;  // what the classification searched, for the conversion
    const int32_t kind = ClassifyContent(document, &searched);
    if (kind == kKindScene || kind == kKindSingleObjectScene) {
      CConvertedTree ownTree;
      if (!converted) converted = &ownTree;
      const Status status = ConvertSceneToProp(document, ui, kind, &searched, converted);
      if (status == kOk && !converted->warnings.empty() && !ui.AcceptWarnings(converted->warnings)) {
        detail = "the conversion left warnings, which are not accepted";
      } else if (status == kOk) {
        ui.ShowMessage(ui.Text(kTextWillConvert), kMessageInformation, "");
        return kOk;
      } else {
        detail = "the conversion stopped: " + StatusDetail(status);
      }
    } else {
      detail = "content kind " + std::to_string(kind) + " (" + ContentKindName(kind) +
               ") is not a plain 3D scene";
    }
  }
  ui.ShowMessage(ui.Text(kTextNotAScene), kMessageError, detail);
  return kErrMalformed;
}

Status SaveProp(CNode* root, const std::string& path, CThumbnail* thumbnail, std::string* detail) {
  CPersistContext target;
  Status status = PreparePropDocument(root, thumbnail, target, detail);
  if (Failed(status)) return status;
  status = SaveFile(0, target, path);
  if (Failed(status) && detail) *detail = "writing " + path + " failed: " + StatusDetail(status);
  return status;
}

Status PreparePropDocument(CNode* root, CThumbnail* thumbnail, CPersistContext& target,
                           std::string* detail, bool mayHoldSummaries) {
  Status status = AddRoot(target, root);
  if (Failed(status)) {
    if (detail) *detail = "there is no converted scene to save: " + StatusDetail(status);
    return status;
  }
  if (thumbnail) target.thumbnail = thumbnail;
  CRefPtr<CRoseData> summary;
  status = mayHoldSummaries ? BuildPropSummary(root, summary) : kNothingDone;
  if (Failed(status)) {
    if (detail) *detail = "the summary record could not be made: " + StatusDetail(status);
    return status;
  }
  if (summary) KX_RETURN_IF_FAILED(TryAppend(target.extInfo, CRefPtr<CBase>(summary.get())));
  return kOk;
}

Status IConverterUi::LoadDocument(CPersistContext& document, const std::string& path) {
  return LoadFile(0, document, path);
}

Status IConverterUi::SaveDocument(CPersistContext& document, const std::string& path) {
  return SaveFile(0, document, path);
}

bool IConverterUi::SaveFailed(const std::string& text, const std::string& detail) {
  ShowMessage(text, kMessageError, detail);
  return false;
}

bool IConverterUi::AcceptWarnings(const std::vector<std::string>&) {
  return true;
}

CommandOutcome OnValidate(IConverterUi& ui) {
  std::string path;
  if (!ui.ChooseFile(FileDialog::kOpen, path)) return CommandOutcome::kCancelled;

  ui.BeginWaitCursor();
  CPersistContext document;
  const CKeptAtExit keep{document};
  const Status loaded = ui.LoadDocument(document, path);
  if (Failed(loaded)) {
    ui.EndWaitCursor();
    ui.ShowMessage(ui.Text(kTextLoadFailed), kMessageError, document.diagnostics.Describe());
    return CommandOutcome::kLoadFailed;
  }

  CRefPtr<CNode> root;
  CConvertedTree converted;
  const Status checked = CheckCompatibility(document, root, ui, &converted);
  ui.EndWaitCursor();
  if (checked != kOk)
    return checked == kNothingDone ? CommandOutcome::kAlreadyCompatible : CommandOutcome::kNotAScene;

  CRefPtr<CThumbnail> thumbnail(KindOf<CThumbnail>(document.thumbnail.get()));
  // A failed save keeps the converted scene for as long as the user wants to try elsewhere.
  for (;;) {
    // The save dialog starts with an empty name.
    path.clear();
    if (!ui.ChooseFile(FileDialog::kSave, path)) return CommandOutcome::kSaveCancelled;

    ui.BeginWaitCursor();
    std::string detail;
    CPersistContext target;
    Status saved = PreparePropDocument(root.get(), thumbnail.get(), target, &detail,
                                       converted.mayHoldSummaries);
    if (Succeeded(saved)) {
      saved = ui.SaveDocument(target, path);
      if (Failed(saved)) detail = "writing " + path + " failed: " + StatusDetail(saved);
    }
    ui.EndWaitCursor();
    if (Failed(saved)) {
      const bool again = ui.SaveFailed(ui.Text(kTextSaveFailed), detail);
      ui.EndWaitCursor();
      if (again) continue;
      return CommandOutcome::kSaveFailed;
    }
    ui.ShowMessage(ui.Text(kTextFinished), kMessageWarning, "");
    ui.EndWaitCursor();
    return CommandOutcome::kSaved;
  }
}

}  // namespace KX
