// The window's one place for messages: a status line saying what the last export or import did
// (with a link to the folder it wrote), and the messages of open, export, import and preview
// in the order they came. Nothing here is modal: a run with a hundred failures shows a hundred
// lines, not a hundred boxes.
#pragma once

#include <QFrame>
#include <string>

class QLabel;
class QPlainTextEdit;
class QToolButton;

namespace kestrix {

class MessagePane : public QFrame {
  Q_OBJECT

 public:
  explicit MessagePane(QWidget* parent);

  // A message of the current run; errors are marked as such.
  void Add(bool error, const std::string& text);
  // The status line after a run; `folder` (may be empty) is offered as a link that opens it.
  void SetStatus(const std::string& text, const std::string& folder);
  // Forgets everything (the close button, and a newly opened archive).
  void Clear();

  int ErrorCount() const { return errors_; }
  int MessageCount() const { return messages_; }
  std::string Status() const;
  std::string StatusFolder() const { return folder_; }
  std::string Text() const;
  // True when there is something to show; the window gives the pane room only then.
  bool HasContent() const { return messages_ > 0 || !status_text_.empty(); }

 signals:
  void ContentChanged();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Place();

  QLabel* status_ = nullptr;
  QPlainTextEdit* list_ = nullptr;
  QToolButton* close_ = nullptr;
  std::string status_text_;
  std::string folder_;
  int errors_ = 0;
  int messages_ = 0;
};

}  // namespace kestrix
