// Finds the modal box the window put up (a message box or the About box), records what it shows
// and dismisses it with its OK button, from inside the box's own modal loop.
#pragma once

#include <QIcon>
#include <QMessageBox>
#include <QObject>
#include <QRect>
#include <QString>
#include <QTimer>
#include <functional>
#include <vector>

namespace kv5 {

struct SeenBox {
  QString kind;  // "message" or "about"
  QString caption;
  QString text;  // the message; for the About box, the notice
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  int buttons = 0;
  bool ownedByWindow = false;
  bool modal = false;
  QString productText;  // About box: the read-only edit
  bool productReadOnly = false;
  bool productFramed = true;
  QRect aboutGeometry;  // About box: its client size
  bool okIsDefault = false;
};

class ModalWatcher : public QObject {
 public:
  explicit ModalWatcher(QWidget* window);

  const std::vector<SeenBox>& Boxes() const { return boxes_; }
  void Clear() { boxes_.clear(); }
  // Runs while a box is up, before it is dismissed.
  void WhileUp(std::function<void(QWidget*)> hook) { whileUp_ = std::move(hook); }

 private:
  void Poll();

  QWidget* window_;
  QTimer timer_;
  std::vector<SeenBox> boxes_;
  std::function<void(QWidget*)> whileUp_;
};

}  // namespace kv5
