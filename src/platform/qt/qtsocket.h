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

    int LocalPort() const override { return localPort_; }
    void SetLocalPort(int port) override { localPort_ = port; }
    QString RemoteHost() const override { return remoteHost_; }
    void SetRemoteHost(const QString& host) override { remoteHost_ = host; }
    int RemotePort() const override { return remotePort_; }
    void SetRemotePort(int port) override { remotePort_ = port; }
    int State() const override;

    void Close() override;
    void Connect() override;
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

    const Protocol protocol_;
    int localPort_ = 0;
    QString remoteHost_;
    int remotePort_ = 0;
    std::unique_ptr<QAbstractSocket> socket_;
    QByteArray pending_;  // sent bytes the Qt socket has not been given yet
    bool sendOnYield_ = false;
    DataArrivalHandler onData_;
};

}  // namespace modburn
