#pragma once

// The serial-port control the run empties and closes, and our model of it.

namespace modburn {

// The serial-port control. The tool only ever empties its input buffer and
// closes it; both must return normally on a closed port.
class ISerialPort {
public:
    virtual ~ISerialPort() = default;

    virtual bool PortOpen() const = 0;
    virtual void SetPortOpen(bool open) = 0;
    virtual int InBufferCount() const = 0;
    virtual void SetInBufferCount(int count) = 0;
};

// Our own small model of the control: it keeps its state, and opening it
// checks the port number and that it is not open already, raising 8002 and
// 8005 as the real control does. No serial hardware is touched.
class SerialPortModel : public ISerialPort {
public:
    int CommPort() const { return commPort_; }
    void SetCommPort(int port) { commPort_ = port; }

    bool PortOpen() const override { return open_; }
    void SetPortOpen(bool open) override;
    int InBufferCount() const override { return inBufferCount_; }
    void SetInBufferCount(int count) override;

private:
    int commPort_ = 1;
    bool open_ = false;
    int inBufferCount_ = 0;
};

}  // namespace modburn
