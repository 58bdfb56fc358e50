#pragma once
// Dialog layouts are drawn in dialog units so that they follow the dialog font: a horizontal unit
// is a quarter of the font's average character width, a vertical unit an eighth of its line
// height.
#include <QFont>
#include <QRect>

namespace KX::gui {

class CDialogUnits {
 public:
  explicit CDialogUnits(const QFont& font);

  int X(int units) const { return Scale(units, baseX_, 4); }
  int Y(int units) const { return Scale(units, baseY_, 8); }
  QRect Rect(int x, int y, int width, int height) const {
    return QRect(X(x), Y(y), X(width), Y(height));
  }
  QSize Size(int width, int height) const { return QSize(X(width), Y(height)); }

  int baseX() const { return baseX_; }
  int baseY() const { return baseY_; }

 private:
  // units * base / divisor, rounded to the nearest pixel.
  static int Scale(int units, int base, int divisor) {
    return (units * base + divisor / 2) / divisor;
  }
  int baseX_;
  int baseY_;
};

// The font the dialogs are laid out in: the application's font family at 8 points.
QFont DialogFont();

}  // namespace KX::gui
