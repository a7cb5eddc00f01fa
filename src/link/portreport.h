#pragma once

// How serial and link failures are reported on the status bar.

#include "platform/statusbar.h"

#include <QString>

namespace modburn {

// Serial and link failures are reported in the first status panel, right
// after the serial setting it shows ("Comm1:9600,N,8,1"). The trimmed text is
// cut to the setting's length first, which drops an earlier report's suffix.
inline constexpr int SettingLength = 16;

void ReportAfterSetting(IStatusBar& StatusBar1, const QString& suffix);

}  // namespace modburn
