#pragma once

// The status bar as a widget of the window.

#include "platform/statusbar.h"

#include <QStatusBar>

#include <vector>

class QLabel;

namespace modburn {

// A status bar of clickable text panels laid side by side.
class StatusBarWidget : public QStatusBar, public IStatusBar {
    Q_OBJECT
public:
    explicit StatusBarWidget(int panelCount, QWidget* parent = nullptr);

    int PanelCount() const override { return static_cast<int>(panels_.size()); }
    QString PanelText(int panel) const override;
    void SetPanelText(int panel, const QString& text) override;
    void SetPanelClickHandler(std::function<void(int panel)> handler) override { onClick_ = std::move(handler); }

    QLabel* PanelLabel(int panel) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* Panel(int panel) const;

    std::vector<QLabel*> panels_;
    std::function<void(int)> onClick_;
};

}  // namespace modburn
