// Dialog units: the window is laid out from its template's coordinates, scaled by the dialog
// font's base units as the Windows dialog manager does, so it keeps the template's proportions.
#pragma once

#include <QFont>
#include <QRect>

namespace kv5 {

// The templates' font: 9-point "MS UI Gothic" when installed, otherwise the closest sans-serif
// face the system has.
QFont DialogFont();

// Horizontal unit: the average width of the Latin letters; vertical unit: the font's height.
struct DialogBaseUnits {
  int x = 0;
  int y = 0;
};
DialogBaseUnits BaseUnitsOf(const QFont& font);

// Pixels for a horizontal or vertical length in dialog units (du * base / 4 and du * base / 8,
// rounded half away from zero).
int DuToPxX(int du, const DialogBaseUnits& units);
int DuToPxY(int du, const DialogBaseUnits& units);
QRect MapDialogRect(const DialogBaseUnits& units, int x, int y, int width, int height);

}  // namespace kv5
