// Finds the modal box the window put up (a message box, a question or the About box), records what
// it shows and dismisses it with its OK button (a question with Yes), from inside the box's own
// modal loop, unless the WhileUp hook closed it already.
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
  QString kind;  // "message", "question" or "about"
  QString caption;
  QString text;    // the message; for the About box, the notice
  QString detail;  // a message's informative text
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  int buttons = 0;
  bool ownedByWindow = false;
  bool modal = false;
  QString productText;  // About box: the read-only edit
  bool productReadOnly = false;
  bool productFramed = true;
  QRect aboutGeometry;  // About box: its client size
  bool okIsDefault = false;
  bool noIsDefault = false;  // a question: No is the default button ...
  bool noOnEscape = false;   // ... and Escape's
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
