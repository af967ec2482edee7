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
    QAbstractButton* no = box->button(QMessageBox::No);
    seen.kind = no != nullptr ? QStringLiteral("question") : QStringLiteral("message");
    seen.text = box->text();
    seen.detail = box->informativeText();
    seen.icon = box->icon();
    seen.buttons = static_cast<int>(box->buttons().size());
    seen.noIsDefault = no != nullptr && box->defaultButton() == no;
    seen.noOnEscape = no != nullptr && box->escapeButton() == no;
    boxes_.push_back(seen);
    if (whileUp_) whileUp_(box);
    if (!box->isVisible()) return;
    const auto answer = no != nullptr ? QMessageBox::Yes : QMessageBox::Ok;
    if (QAbstractButton* button = box->button(answer)) button->click();
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
