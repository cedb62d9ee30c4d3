#include "ui/message_pane.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPlainTextEdit>
#include <QToolButton>
#include <QUrl>

#include "core/localization.h"

namespace kestrix {

namespace {

QString Q(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

MessagePane::MessagePane(QWidget* parent) : QFrame(parent) {
  setObjectName("MessagePane");
  setFrameShape(QFrame::StyledPanel);
  status_ = new QLabel(this);
  status_->setObjectName("MessageStatus");
  status_->setTextFormat(Qt::RichText);
  status_->setTextInteractionFlags(Qt::TextBrowserInteraction);
  connect(status_, &QLabel::linkActivated, this, [](const QString& link) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(link));
  });
  list_ = new QPlainTextEdit(this);
  list_->setObjectName("MessageList");
  list_->setReadOnly(true);
  list_->setLineWrapMode(QPlainTextEdit::NoWrap);
  close_ = new QToolButton(this);
  close_->setObjectName("MessageClose");
  close_->setText(QString::fromUtf8("\u2715"));
  close_->setToolTip(InterfaceIsRussian() ? QString::fromUtf8("Очистить сообщения")
                                          : QString("Clear the messages"));
  connect(close_, &QToolButton::clicked, this, &MessagePane::Clear);
}

void MessagePane::Add(bool error, const std::string& text) {
  if (error) ++errors_;
  ++messages_;
  // One line per message: the engine's texts sometimes carry their own line breaks.
  QString line = Q(text).replace("\r\n", " ").replace('\n', ' ');
  if (error) line.prepend(InterfaceIsRussian() ? QString::fromUtf8("Ошибка: ") : "Error: ");
  list_->appendPlainText(line);
  Place();
  emit ContentChanged();
}

void MessagePane::SetStatus(const std::string& text, const std::string& folder) {
  status_text_ = text;
  folder_ = folder;
  QString shown = Q(text).toHtmlEscaped();
  if (!folder.empty()) {
    const QString open = InterfaceIsRussian() ? QString::fromUtf8("открыть папку") : "open folder";
    shown += " (<a href=\"" + Q(folder).toHtmlEscaped() + "\">" + open + "</a>)";
  }
  status_->setText(shown);
  status_->setToolTip(Q(folder));
  Place();
  emit ContentChanged();
}

void MessagePane::Clear() {
  list_->clear();
  status_->clear();
  status_text_.clear();
  folder_.clear();
  errors_ = messages_ = 0;
  emit ContentChanged();
}

std::string MessagePane::Status() const { return status_text_; }

std::string MessagePane::Text() const { return list_->toPlainText().toStdString(); }

void MessagePane::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  Place();
}

void MessagePane::Place() {
  const int w = width(), h = height();
  const int line = status_->fontMetrics().height() + 4;
  close_->setGeometry(w - line - 4, 2, line, line);
  status_->setGeometry(6, 2, std::max(0, w - line - 14), line);
  list_->setVisible(messages_ > 0);
  list_->setGeometry(4, line + 4, std::max(0, w - 8), std::max(0, h - line - 8));
}

}  // namespace kestrix
