#pragma once

// The status text box priDownText.

#include <QPlainTextEdit>

namespace modburn {

// The run's status text area. It keeps the text exactly as written, CR LF
// pairs included, because the run appends to what it reads back; on screen
// each CR LF is one line break. Only the run writes it, so it is read-only.
class StatusTextBox : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit StatusTextBox(QWidget* parent = nullptr);

    const QString& Text() const { return text_; }
    void SetText(const QString& text);

private:
    QString text_;
};

}  // namespace modburn
