#include "ui/qt/AboutBox.h"

#include <QIcon>
#include <QPalette>

#include "firmware/FirmwarePackage.h"
#include "ui/InstanceNames.h"
#include "ui/qt/AppIcon.h"
#include "ui/qt/DialogUnits.h"

namespace kv5 {

QString MakerNotice() {
  if (IsTestPackage())
    return QStringLiteral("Synthetic test package: not firmware for a real unit.");
  return QStringLiteral("TELVOR Q9 firmware updater.");
}

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      icon_(this),
      notice_(this),
      ok_(QStringLiteral("OK"), this),
      product_(this) {
  setFont(DialogFont());
  const DialogBaseUnits units = BaseUnitsOf(font());
  setWindowTitle(QString::fromLatin1(kAboutCaption));
  setWindowIcon(AppIcon());
  setFixedSize(DuToPxX(235, units), DuToPxY(60, units));

  // An icon static takes the size of its icon, whatever the template says.
  const QRect iconCell = MapDialogRect(units, 11, 17, 20, 20);
  icon_.setGeometry(iconCell.x(), iconCell.y(), 32, 32);
  icon_.setPixmap(DrawAppIcon(32));

  notice_.setGeometry(MapDialogRect(units, 40, 44, 188, 8));
  notice_.setText(MakerNotice());
  notice_.setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

  ok_.setGeometry(MapDialogRect(units, 178, 6, 50, 16));
  ok_.setDefault(true);
  connect(&ok_, &QPushButton::clicked, this, &QDialog::accept);

  product_.setGeometry(MapDialogRect(units, 39, 19, 134, 14));
  product_.setReadOnly(true);
  product_.setFrame(false);
  QPalette palette = product_.palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Window));
  product_.setPalette(palette);
  product_.setText(QString::fromUtf8(kProductTitle));
  product_.setCursorPosition(0);

  setTabOrder(&ok_, &product_);
  ok_.setFocus();
}

}  // namespace kv5
