#pragma once

// The socket control on Qt's sockets.

#include "platform/socket.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QObject>

#include <memory>

namespace modburn {

// The socket control on QTcpSocket, or on QUdpSocket for a UDP one. A new Qt
// socket is made for every connect, so a close never has to wait for the old
// connection to wind down.
class QtSocket : public QObject, public ISocket {
    Q_OBJECT
public:
    enum class Protocol { Tcp, Udp };

    explicit QtSocket(Protocol protocol, QObject* parent = nullptr);
    ~QtSocket() override;

    void Close() override;
    void Connect(const QString& host, int port) override;
    bool Connected() const override;
    ConnectFailure Failure() const override { return failure_; }
    void SendData(const std::array<std::uint8_t, 1>& data) override;
    std::vector<std::uint8_t> GetData() override;
    void SetDataArrivalHandler(DataArrivalHandler handler) override { onData_ = std::move(handler); }

    // Hands the bytes sent so far to the system in one write. Without a call
    // they go on the next pass of the thread's event loop.
    void SendPending();
    // The owner calls SendPending() before every yield to the event loop, so
    // no extra pass needs to be asked for (each one costs a wake-up).
    void SetSendPendingOnYield(bool onYield) { sendOnYield_ = onYield; }

private:
    void OnReadyRead();
    void OnError(QAbstractSocket::SocketError error);

    const Protocol protocol_;
    std::unique_ptr<QAbstractSocket> socket_;
    QByteArray pending_;  // sent bytes the Qt socket has not been given yet
    bool sendOnYield_ = false;
    bool everConnected_ = false;  // since the last Connect
    ConnectFailure failure_;
    DataArrivalHandler onData_;
};

}  // namespace modburn
