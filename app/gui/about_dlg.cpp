#include "app/gui/about_dlg.h"

#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "app/gui/dialog_units.h"
#include "app/gui/vetter_dlg.h"

namespace KX::gui {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("aboutDialog"));
  setWindowTitle(QStringLiteral("About Recaster"));
  setModal(true);
  setFont(DialogFont());
  const CDialogUnits units(font());
  // 170 x 62 units: the icon on the left, two lines of text, OK at the bottom right.
  setFixedSize(units.Size(170, 62));

  auto* icon = new QLabel(this);
  const QRect iconRect = units.Rect(14, 14, 21, 20);
  const int side = std::min(iconRect.width(), iconRect.height());
  icon->setPixmap(ProgramIcon().pixmap(side, side));
  icon->setGeometry(iconRect);

  auto* name = new QLabel(QStringLiteral("Recaster, Version " KX_RECASTER_VERSION), this);
  name->setObjectName(QStringLiteral("aboutName"));
  name->setGeometry(units.Rect(42, 14, 114, 8));

  auto* purpose = new QLabel(QStringLiteral("Turns Fabler2.5 3D scenes into Fabler3 props."), this);
  purpose->setObjectName(QStringLiteral("aboutPurpose"));
  purpose->setWordWrap(true);
  purpose->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  purpose->setGeometry(units.Rect(42, 26, 114, 16));

  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QStringLiteral("aboutOk"));
  ok->setDefault(true);
  ok->setGeometry(units.Rect(113, 44, 50, 14));
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace KX::gui
