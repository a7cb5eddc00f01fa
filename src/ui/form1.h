#pragma once

#include "link/link.h"
#include "platform/qt/qteventqueue.h"
#include "platform/qt/qtsocket.h"
#include "platform/qt/qttimer.h"
#include "platform/serialport.h"

#include <QWidget>

namespace modburn {

// The main window. It owns the controls and the link state for its whole life.
class Form1 : public QWidget {
    Q_OBJECT
public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    Link& link() { return link_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Load();

    QtSocket TcpWinsock_;
    QtSocket udpWinsock_;
    QtTimer Timer1_;
    QtTimer Timer4_;
    QtEventQueue events_;
    SerialPortModel MSComm1_;
    Link link_;
};

}  // namespace modburn
