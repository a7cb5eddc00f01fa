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

// Serial and link failures are reported in the first status panel, right
// after the serial setting it shows ("Comm1:9600,N,8,1"). The trimmed text is
// cut to the setting's length first, which drops an earlier report's suffix.
inline constexpr int SettingLength = 16;

void ReportAfterSetting(IStatusBar& StatusBar1, const QString& suffix);

}  // namespace modburn
