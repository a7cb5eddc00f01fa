#pragma once

// Serves the simulated device on 127.0.0.1: one Session per connection,
// all of them on the one shared Device.

#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTimer>

#include <deque>

#include "device.h"

class QTcpSocket;

namespace modburn::devsim {

// Runs one connection's actions in order, each after its own delay.
class Connection : public QObject {
public:
    Connection(QTcpSocket* socket, Device& device);

private:
    void OnReadyRead();
    void ScheduleNext();
    void RunNext();

    QTcpSocket* socket_;
    Session session_;
    std::deque<Action> queue_;
    QTimer timer_;
    bool closing_ = false;
};

class Server : public QObject {
public:
    explicit Server(Options options, QObject* parent = nullptr);

    // Listens on 127.0.0.1 only; port 0 picks a free one.
    bool Listen(quint16 port);
    quint16 Port() const;
    QString ErrorString() const;

    Device& GetDevice();

private:
    void OnNewConnection();

    Device device_;
    QTcpServer server_;
};

}  // namespace modburn::devsim
