#include "ModalWatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>

#include "ui/qt/AboutBox.h"

namespace kv5 {

ModalWatcher::ModalWatcher(QWidget* window) : window_(window) {
  timer_.setInterval(5);
  connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
  timer_.start();
}

void ModalWatcher::Poll() {
  QWidget* active = QApplication::activeModalWidget();
  if (!active || active == window_ || !active->isVisible()) return;
  SeenBox seen;
  seen.caption = active->windowTitle();
  seen.ownedByWindow = active->parentWidget() == window_;
  seen.modal = active->isModal();
  if (auto* box = qobject_cast<QMessageBox*>(active)) {
    seen.kind = QStringLiteral("message");
    seen.text = box->text();
    seen.icon = box->icon();
    seen.buttons = static_cast<int>(box->buttons().size());
    if (whileUp_) whileUp_(box);
    boxes_.push_back(seen);
    if (QAbstractButton* ok = box->button(QMessageBox::Ok)) ok->click();
    return;
  }
  if (auto* about = dynamic_cast<CAboutDlg*>(active)) {
    seen.kind = QStringLiteral("about");
    seen.text = about->Notice().text();
    seen.productText = about->ProductEdit().text();
    seen.productReadOnly = about->ProductEdit().isReadOnly();
    seen.productFramed = about->ProductEdit().hasFrame();
    seen.aboutGeometry = QRect(QPoint(0, 0), about->size());
    seen.okIsDefault = about->OkButton().isDefault();
    seen.buttons = 1;
    if (whileUp_) whileUp_(about);
    boxes_.push_back(seen);
    about->OkButton().click();
  }
}

}  // namespace kv5
