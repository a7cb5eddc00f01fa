// The socket control on QTcpSocket and QUdpSocket: byte-wise sends, data arrival.

#include "platform/qt/qtsocket.h"

#include "platform/errors.h"

#include <QTcpSocket>
#include <QUdpSocket>

namespace modburn {

QtSocket::QtSocket(Protocol protocol, QObject* parent) : QObject(parent), protocol_(protocol) {}

QtSocket::~QtSocket()
{
    Close();
}

bool QtSocket::Connected() const
{
    return socket_ && socket_->state() == QAbstractSocket::ConnectedState;
}

void QtSocket::Close()
{
    if (!socket_)
        return;
    // Hand what was sent to the system before the socket goes, like a close
    // of the control does; unread input is dropped.
    socket_->disconnect(this);
    if (socket_->state() == QAbstractSocket::ConnectedState) {
        SendPending();
        socket_->flush();
    }
    pending_.clear();
    failure_ = {};
    socket_->abort();
    socket_.reset();
}

void QtSocket::Connect(const QString& host, int port)
{
    if (socket_ && socket_->state() != QAbstractSocket::UnconnectedState)
        throw RuntimeError(err::SocketInvalidOperation, "Invalid operation at current state");
    Close();
    if (protocol_ == Protocol::Udp)
        socket_ = std::make_unique<QUdpSocket>();
    else
        socket_ = std::make_unique<QTcpSocket>();
    everConnected_ = false;
    failure_ = {};
    connect(socket_.get(), &QAbstractSocket::readyRead, this, &QtSocket::OnReadyRead);
    connect(socket_.get(), &QAbstractSocket::errorOccurred, this, &QtSocket::OnError);
    connect(socket_.get(), &QAbstractSocket::connected, this, [this] {
        everConnected_ = true;
        // Frames are small and answered one at a time: never hold one back.
        if (protocol_ == Protocol::Tcp)
            socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    });
    socket_->connectToHost(host, static_cast<quint16>(port));
}

void QtSocket::SendData(const std::array<std::uint8_t, 1>& data)
{
    if (!socket_ || socket_->state() != QAbstractSocket::ConnectedState) {
        throw RuntimeError(err::SocketBadState,
                           "Wrong protocol or connection state for the requested transaction or request");
    }
    // Every write on a UDP socket is a datagram of its own.
    if (socket_->socketType() != QAbstractSocket::TcpSocket) {
        if (socket_->write(reinterpret_cast<const char*>(data.data()), 1) != 1)
            throw RuntimeError(err::SocketBadState,
                               "Wrong protocol or connection state for the requested transaction or request");
        return;
    }
    // A frame goes out byte by byte; the bytes are gathered here and handed
    // over in one write when the thread next yields to its event loop, as
    // Qt's own buffer would, without a buffer append per byte.
    if (pending_.isEmpty() && !sendOnYield_)
        QMetaObject::invokeMethod(this, &QtSocket::SendPending, Qt::QueuedConnection);
    pending_.append(static_cast<char>(data[0]));
}

void QtSocket::SendPending()
{
    if (pending_.isEmpty())
        return;
    // A socket that went away meanwhile takes nothing; the next send says so.
    if (socket_ && socket_->state() == QAbstractSocket::ConnectedState && socket_->write(pending_) == pending_.size())
        socket_->flush();
    pending_.resize(0);  // keeps its capacity for the next frame
}

std::vector<std::uint8_t> QtSocket::GetData()
{
    if (!socket_)
        return {};
    const QByteArray bytes = socket_->readAll();
    return {bytes.begin(), bytes.end()};
}

void QtSocket::OnError(QAbstractSocket::SocketError error)
{
    // Errors of a connection that was up are the link's to notice, not the connect's.
    if (everConnected_ || failure_.why != ConnectFailure::Why::None)
        return;
    using Why = ConnectFailure::Why;
    failure_.why = error == QAbstractSocket::ConnectionRefusedError ? Why::Refused
                   : error == QAbstractSocket::HostNotFoundError    ? Why::HostNotFound
                                                                    : Why::Other;
    failure_.words = socket_->errorString();
}

void QtSocket::OnReadyRead()
{
    const qint64 available = socket_->bytesAvailable();
    if (available > 0 && onData_)
        onData_(static_cast<std::int32_t>(available));
}

}  // namespace modburn
