// The About box: the program's icon, the maker's notice, the product name and an OK button, laid
// out from its template in dialog units.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>

namespace kv5 {

inline constexpr const char* kAboutCaption = "About TELVOR Q5 Updater";

// The one-line notice; a build that carries the synthetic test package says so.
QString MakerNotice();

class CAboutDlg : public QDialog {
 public:
  explicit CAboutDlg(QWidget* parent);

  QLabel& IconStatic() { return icon_; }
  QLabel& Notice() { return notice_; }
  QPushButton& OkButton() { return ok_; }
  QLineEdit& ProductEdit() { return product_; }

 private:
  QLabel icon_;
  QLabel notice_;
  QPushButton ok_;
  QLineEdit product_;
};

}  // namespace kv5
