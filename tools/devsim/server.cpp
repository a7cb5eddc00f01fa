// The simulator's TCP server: one session per connection, replies on timers.

#include "server.h"

#include <QHostAddress>
#include <QTcpSocket>

#include <algorithm>
#include <string>

namespace modburn::devsim {

Connection::Connection(QTcpSocket* socket, Device& device) : QObject(socket), socket_(socket), session_(device)
{
    timer_.setSingleShot(true);
    // A coarse timer may fire up to 5% early, which would turn a reply meant
    // to come after the tool's time-out into one that comes before it.
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] { RunNext(); });
    connect(socket_, &QTcpSocket::readyRead, this, [this] { OnReadyRead(); });
    connect(socket_, &QTcpSocket::disconnected, socket_, &QObject::deleteLater);
    // Bytes may already be waiting when the connection is handed over.
    if (socket_->bytesAvailable() > 0)
        QTimer::singleShot(0, this, [this] { OnReadyRead(); });
}

void Connection::OnReadyRead()
{
    const QByteArray data = socket_->readAll();
    if (closing_ || data.isEmpty())
        return;
    const auto* first = reinterpret_cast<const std::uint8_t*>(data.constData());
    for (Action& a : session_.Feed({first, static_cast<std::size_t>(data.size())}))
        queue_.push_back(std::move(a));
    if (!timer_.isActive())
        ScheduleNext();
}

void Connection::ScheduleNext()
{
    if (!queue_.empty())
        timer_.start(std::max(0, queue_.front().delayMs));
}

void Connection::RunNext()
{
    if (queue_.empty() || closing_)
        return;
    const Action action = std::move(queue_.front());
    queue_.pop_front();
    if (!action.bytes.empty()) {
        socket_->write(reinterpret_cast<const char*>(action.bytes.data()), static_cast<qint64>(action.bytes.size()));
        socket_->flush();
    }
    if (action.close) {
        closing_ = true;
        queue_.clear();
        socket_->disconnectFromHost();  // sends what is still buffered first
        return;
    }
    ScheduleNext();
}

Server::Server(Options options, bool flashOutByPort, QObject* parent)
    : QObject(parent), options_(std::move(options)), flashOutByPort_(flashOutByPort)
{
    connect(&server_, &QTcpServer::newConnection, this, [this] { OnNewConnection(); });
}

bool Server::Listen(quint16 port)
{
    if (!server_.listen(QHostAddress(QHostAddress::LocalHost), port))
        return false;
    Options options = options_;
    if (flashOutByPort_ && !options.flashOut.empty())
        options.flashOut += "." + std::to_string(server_.serverPort());
    device_.emplace(std::move(options));
    return true;
}

quint16 Server::Port() const
{
    return server_.serverPort();
}

QString Server::ErrorString() const
{
    return server_.errorString();
}

Device& Server::GetDevice()
{
    return *device_;
}

void Server::OnNewConnection()
{
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        new Connection(socket, *device_);  // owned by the socket
    }
}

}  // namespace modburn::devsim
