#pragma once

// The status bar whose first panel shows the serial setting.

#include <QString>

#include <functional>

namespace modburn {

// A status bar of text panels. Panels are numbered from 1, the first panel
// being the one that shows the serial setting string.
class IStatusBar {
public:
    static constexpr int FirstPanel = 1;

    virtual ~IStatusBar() = default;

    virtual int PanelCount() const = 0;
    virtual QString PanelText(int panel) const = 0;
    virtual void SetPanelText(int panel, const QString& text) = 0;
    virtual void SetPanelClickHandler(std::function<void(int panel)> handler) = 0;
};

}  // namespace modburn
