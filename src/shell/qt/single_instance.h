// One browser per program directory: later starts hand their command line to
// the running one over a local socket and exit.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QLocalServer;

namespace zk {

QString single_instance_name(const QString& program_dir);

// True when a running instance took the command line.
bool single_instance_hand_over(const QString& program_dir, const QByteArray& command_line);

class SingleInstanceServer : public QObject {
    Q_OBJECT
public:
    // `received` runs on the main thread with each handed-in command line.
    SingleInstanceServer(const QString& program_dir, std::function<void(const QByteArray&)> received,
                         QObject* parent = nullptr);
    bool listening() const;

private:
    QLocalServer* server_;
    std::function<void(const QByteArray&)> received_;
};

// A command line handed in is at most this long; the rest is dropped.
constexpr int kMaxHandIn = 64 * 1024;

}  // namespace zk
