#include "ui/qt/DialogUnits.h"

#include <QFontMetrics>
#include <QStringList>

namespace kv5 {
namespace {

// a * b / c rounded half away from zero, for non-negative lengths and units.
int MulDiv(int a, int b, int c) {
  const long long product = static_cast<long long>(a) * b;
  const long long rounded = product >= 0 ? (product + c / 2) / c : (product - c / 2) / c;
  return static_cast<int>(rounded);
}

}  // namespace

QFont DialogFont() {
  QFont font;
  // Qt takes the first family it has; the later ones are metric-wise close to the first.
  font.setFamilies({QStringLiteral("MS UI Gothic"), QStringLiteral("IPAPGothic"),
                    QStringLiteral("VL PGothic"), QStringLiteral("Noto Sans CJK JP"),
                    QStringLiteral("DejaVu Sans")});
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(9);
  return font;
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
  const QFontMetrics metrics(font);
  // The dialog manager's average: the 52 letters' width over 26, halved and rounded.
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return DialogBaseUnits{(letters / 26 + 1) / 2, metrics.height()};
}

int DuToPxX(int du, const DialogBaseUnits& units) {
  return MulDiv(du, units.x, 4);
}
int DuToPxY(int du, const DialogBaseUnits& units) {
  return MulDiv(du, units.y, 8);
}

QRect MapDialogRect(const DialogBaseUnits& units, int x, int y, int width, int height) {
  return QRect(DuToPxX(x, units), DuToPxY(y, units), DuToPxX(width, units), DuToPxY(height, units));
}

}  // namespace kv5
