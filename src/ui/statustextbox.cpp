// The status text box: keeps CR LF text exactly, shows each as a line break.

#include "ui/statustextbox.h"

namespace modburn {

StatusTextBox::StatusTextBox(QWidget* parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    // Tab walks the window's tab order instead of staying in here.
    setTabChangesFocus(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

void StatusTextBox::SetText(const QString& text)
{
    text_ = text;
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    setPlainText(shown);
}

}  // namespace modburn
