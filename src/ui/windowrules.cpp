// Load, Exit, unload and the setting panel, without widgets.

#include "ui/windowrules.h"

namespace modburn {

const QStringList& WindowRules::SerialSettings()
{
    static const QStringList settings{
        QStringLiteral("Comm1:9600,N,8,1"),
        QStringLiteral("Comm2:9600,N,8,1"),
        QStringLiteral("Comm3:9600,N,8,1"),
        QStringLiteral("Comm4:9600,N,8,1"),
    };
    return settings;
}

void WindowRules::Load()
{
    LoadLink(link_, control_);
}

void WindowRules::Exit()
{
    control_.SetRunEnable(false);
    ClosePort();
}

void WindowRules::Unload()
{
    ClosePort();
    control_.Stop();
}

void WindowRules::PanelClick(int panel)
{
    const QStringList& settings = SerialSettings();
    // indexOf gives -1 for no match, so the step lands on the first setting.
    const qsizetype current = settings.indexOf(StatusBar1_.PanelText(panel));
    StatusBar1_.SetPanelText(IStatusBar::FirstPanel, settings[(current + 1) % settings.size()]);
}

void WindowRules::ClosePort()
{
    if (MSComm1_.PortOpen())
        MSComm1_.SetPortOpen(false);
}

}  // namespace modburn
