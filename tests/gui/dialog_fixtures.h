#pragma once
// What the dialog's tests share: message-box checks, a dialog with scripted file choices, and
// small old-layout scenes.
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/gui/vetter_dlg.h"
#include "gui/modal_script.h"
#include "support/bytes.h"
#include "support/temp_dir.h"

namespace KX::test {

using gui::CVetterDlg;
using gui::FileRequest;

inline QAbstractButton* ButtonOf(QMessageBox& box, const QString& text) {
  for (QAbstractButton* button : box.buttons())
    if (button->text() == text) return button;
  return nullptr;
}

// Checks a message box against the text, icon and whether a detail came with it, then presses
// `press` (OK by default). `waitCursor` says whether the command's wait cursor is on meanwhile.
inline ModalScript::Handler Expect(const std::string& text, QMessageBox::Icon icon, bool detail,
                                   bool waitCursor, const QString& press = QStringLiteral("OK"),
                                   std::string* detailOut = nullptr) {
  return [=](QWidget* window) {
    auto* box = qobject_cast<QMessageBox*>(window);
    ASSERT_TRUE(box) << window->metaObject()->className();
    EXPECT_EQ(box->text().toStdString(), text);
    EXPECT_EQ(box->windowTitle(), "Recaster");
    EXPECT_EQ(box->icon(), icon);
    EXPECT_EQ(!box->detailedText().isEmpty(), detail) << box->detailedText().toStdString();
    if (detailOut) *detailOut = box->detailedText().toStdString();
    const QCursor* cursor = QApplication::overrideCursor();
    EXPECT_EQ(cursor && cursor->shape() == Qt::WaitCursor, waitCursor);
    QAbstractButton* button = ButtonOf(*box, press);
    ASSERT_TRUE(button) << "no button " << press.toStdString();
    button->click();
  };
}

// A refusal of a chosen save target: a warning whose text holds `words`.
inline ModalScript::Handler ExpectRefusal(const QString& words) {
  return [=](QWidget* window) {
    auto* box = qobject_cast<QMessageBox*>(window);
    ASSERT_TRUE(box) << window->metaObject()->className();
    EXPECT_EQ(box->icon(), QMessageBox::Warning);
    EXPECT_TRUE(box->text().contains(words)) << box->text().toStdString();
    box->button(QMessageBox::Ok)->click();
  };
}

inline const std::string kNotAScene = "This is not a valid Fabler 3D Scene file.";
inline const std::string kWillConvert =
    "Fabler 3D Scene will be converted to 3D Prop and become compatible with Fabler3.";
inline const std::string kFinished = "Process is finished. Please reload the props to your Fabler3.";
inline const std::string kSaveFailed = "Error when saving file.";

// The dialog with scripted file choices: each request is recorded and answered in turn.
struct ScriptedDialog {
  explicit ScriptedDialog(std::vector<std::optional<QString>> answers, std::string folder = "")
      : dialog(folder) {
    dialog.SetFileChooser([this, answers = std::move(answers)](const FileRequest& request) {
      requests.push_back(request);
      const size_t i = requests.size() - 1;
      return i < answers.size() ? answers[i] : std::nullopt;
    });
  }
  CVetterDlg dialog;
  std::vector<FileRequest> requests;
};

inline QAction* ActionOf(QWidget& widget, int id) {
  for (QAction* action : widget.actions())
    if (!action->isSeparator() && action->data().toInt() == id) return action;
  return nullptr;
}

inline std::string WriteFile(const TempDir& dir, const std::string& name,
                             const Bytes& b) {
  return dir.File(name, std::string(b.data.begin(), b.data.end()));
}

// An old scene: a "Scene Root" node with `children` child nodes (one: a scene of a single
// object). More children make a longer load.
inline Bytes OldScene(int children = 1) {
  auto spatial = [](Bytes& b, int32_t id, const std::string& name) {
    b.I32(id).A(name.c_str()).I32(0).I32(0).I32(0);  // CBase, CCorva
    for (int i = 0; i < 16; ++i) b.F32(i % 5 == 0 ? 1.0f : 0.0f);
    b.U8(1);
  };
  Bytes file = OldHeader("1.50").Append(OldEmptyThumbnail());
  file.A("_CorvaRoot").A("CNode");
  spatial(file, 1, "Scene Root");
  file.I32(0).U32(0).U8(0).U8(1).I32(children);  // no unused ids; tag, options; the children
  for (int i = 0; i < children; ++i) file.I32(2 + i);
  for (int i = 0; i < children; ++i) {
    file.A("CNode");
    spatial(file, 2 + i, "Box " + std::to_string(i));
    file.I32(0).U32(0).U8(0).U8(1).I32(0);
  }
  return file;
}

// An old file with a thumbnail and no object at all: no root, so no scene.
inline Bytes OldFileWithoutRoot() {
  return OldHeader("1.50").Append(OldEmptyThumbnail());
}

}  // namespace KX::test
