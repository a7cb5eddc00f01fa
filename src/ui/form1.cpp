#include "ui/form1.h"

#include <QCloseEvent>
#include <QLabel>
#include <QVBoxLayout>

namespace modburn {

Form1::Form1(QWidget* parent)
    : QWidget(parent), link_(TcpWinsock_, udpWinsock_, Timer1_, Timer4_, events_)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("modburn"));
    // The window's client area is 4680 x 3585 twips.
    resize(312, 239);
    auto* label = new QLabel(QStringLiteral("modburn\n\nThe device link and the simulator are in place; "
                                            "the programming window comes in the next release."),
                             this);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignCenter);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    Load();
}

Form1::~Form1()
{
    link_.Shutdown();
}

void Form1::Load()
{
    link_.RunEnable = FlagTrue;
    link_.SetUpSockets();
    link_.StartTimers();
}

void Form1::closeEvent(QCloseEvent* event)
{
    if (MSComm1_.PortOpen())
        MSComm1_.SetPortOpen(false);
    // Any wait still running unwinds as soon as this handler returns.
    link_.Shutdown();
    event->accept();
}

}  // namespace modburn
