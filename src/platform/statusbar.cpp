// Error words after the serial setting in the first status panel.

#include "platform/statusbar.h"

#include "platform/text.h"

namespace modburn {

void ReportAfterSetting(IStatusBar& StatusBar1, const QString& suffix)
{
    const QString setting = TrimBlanks(StatusBar1.PanelText(IStatusBar::FirstPanel)).left(SettingLength);
    StatusBar1.SetPanelText(IStatusBar::FirstPanel, setting + suffix);
}

}  // namespace modburn
