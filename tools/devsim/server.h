#pragma once

// Serves one simulated device on 127.0.0.1: one Session per connection,
// all of them on the server's one Device. A process may run several servers,
// each a device of its own.

#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTimer>

#include <deque>
#include <optional>

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
    // With `flashOutByPort`, a flash-out file name gets ".<port>" appended
    // once the port is known, so that devices of one process keep apart.
    explicit Server(Options options, bool flashOutByPort = false, QObject* parent = nullptr);

    // Listens on 127.0.0.1 only; port 0 picks a free one. The device exists from here on.
    bool Listen(quint16 port);
    quint16 Port() const;
    QString ErrorString() const;

    // Only after a successful Listen().
    Device& GetDevice();

private:
    void OnNewConnection();

    Options options_;
    bool flashOutByPort_;
    std::optional<Device> device_;
    QTcpServer server_;
};

}  // namespace modburn::devsim
