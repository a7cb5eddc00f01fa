// The status bar as a row of clickable text panels.

#include "platform/qt/statusbarwidget.h"

#include "platform/errors.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>

namespace modburn {

StatusBarWidget::StatusBarWidget(int panelCount, QWidget* parent) : QStatusBar(parent)
{
    setSizeGripEnabled(false);
    for (int i = 0; i < panelCount; ++i) {
        auto* label = new QLabel(this);
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        label->installEventFilter(this);
        // The first panel takes the room that is left over.
        addPermanentWidget(label, i == 0 ? 1 : 0);
        panels_.push_back(label);
    }
}

QLabel* StatusBarWidget::Panel(int panel) const
{
    if (panel < FirstPanel || panel > PanelCount())
        throw RuntimeError(err::SubscriptOutOfRange, "Index out of bounds");
    return panels_[static_cast<std::size_t>(panel - FirstPanel)];
}

QLabel* StatusBarWidget::PanelLabel(int panel) const
{
    return Panel(panel);
}

QString StatusBarWidget::PanelText(int panel) const
{
    return Panel(panel)->text();
}

void StatusBarWidget::SetPanelText(int panel, const QString& text)
{
    Panel(panel)->setText(text);
}

bool StatusBarWidget::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        for (std::size_t i = 0; i < panels_.size(); ++i) {
            if (panels_[i] == watched && onClick_) {
                onClick_(static_cast<int>(i) + FirstPanel);
                return true;
            }
        }
    }
    return QStatusBar::eventFilter(watched, event);
}

}  // namespace modburn
