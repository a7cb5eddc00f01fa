#pragma once

// The window's own rules that need no widgets: what load, Exit and unload do
// to the link and the serial port, and how a click steps the setting panel.
// Form1 calls these; tests use the same rules rather than copies of them.

#include "link/link.h"
#include "link/runcontrol.h"
#include "platform/serialport.h"
#include "platform/statusbar.h"

#include <QString>
#include <QStringList>

namespace modburn {

class WindowRules {
public:
    WindowRules(Link& link, RunControl& control, ISerialPort& MSComm1, IStatusBar& StatusBar1)
        : link_(link), control_(control), MSComm1_(MSComm1), StatusBar1_(StatusBar1)
    {
    }

    // The link's part of the load defaults: runs allowed, both timers running.
    void Load();
    // Exit: runs are stopped and the serial port closed; the caller then
    // closes the window, which ends in Unload.
    void Exit();
    // The window is going: the serial port is closed and every wait unwinds.
    void Unload();
    // A click on a status-bar panel: an exact, case-sensitive match of a
    // setting steps to the next one; anything else, error words after the
    // setting included, starts again at the first.
    void PanelClick(int panel);

    static const QStringList& SerialSettings();

private:
    void ClosePort();

    Link& link_;
    RunControl& control_;
    ISerialPort& MSComm1_;
    IStatusBar& StatusBar1_;
};

}  // namespace modburn
