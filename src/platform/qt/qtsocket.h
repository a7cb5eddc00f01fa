#pragma once

// The socket control on Qt's sockets.

#include "platform/socket.h"

#include <QAbstractSocket>
#include <QObject>

#include <memory>

namespace modburn {

// The socket control on QTcpSocket (or QUdpSocket for the UDP protocol). A new
// Qt socket is made for every connect, so a close never has to wait for the
// old connection to wind down.
class QtSocket : public QObject, public ISocket {
    Q_OBJECT
public:
    explicit QtSocket(QObject* parent = nullptr);
    ~QtSocket() override;

    int Protocol() const override { return protocol_; }
    void SetProtocol(int protocol) override;
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

private:
    void OnReadyRead();

    int protocol_ = sock::ProtocolTcp;
    int localPort_ = 0;
    QString remoteHost_;
    int remotePort_ = 0;
    std::unique_ptr<QAbstractSocket> socket_;
    DataArrivalHandler onData_;
};

}  // namespace modburn
