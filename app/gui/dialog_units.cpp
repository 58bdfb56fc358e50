#include "app/gui/dialog_units.h"

#include <QApplication>
#include <QFontMetrics>

namespace KX::gui {

CDialogUnits::CDialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  // The average over the letters of the alphabet describes running text better than the font's
  // own average, which some fonts report as the width of a single glyph.
  static const QString kAlphabet =
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  const int alphabet = metrics.horizontalAdvance(kAlphabet);
  baseX_ = alphabet > 0 ? (alphabet / 26 + 1) / 2 : metrics.averageCharWidth();
  baseY_ = metrics.height();
  // A font without metrics (no fonts installed at all) still has to give a usable dialog.
  if (baseX_ <= 0) baseX_ = 6;
  if (baseY_ <= 0) baseY_ = 13;
}

QFont DialogFont() {
  QFont font = QApplication::font();
  font.setPointSize(8);
  return font;
}

}  // namespace KX::gui
