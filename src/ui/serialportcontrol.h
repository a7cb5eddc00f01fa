#pragma once

// The serial-port model as a named child object of the window.

#include "platform/serialport.h"

#include <QObject>

namespace modburn {

// The serial-port model as a child object of the window, so it can be found
// by name like the window's other controls.
class SerialPortControl : public QObject, public SerialPortModel {
    Q_OBJECT
public:
    explicit SerialPortControl(QObject* parent = nullptr) : QObject(parent) {}
};

}  // namespace modburn
