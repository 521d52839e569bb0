#include "shell/qt/single_instance.h"

#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>

namespace zk {

QString single_instance_name(const QString& program_dir) {
    QByteArray digest = QCryptographicHash::hash(program_dir.toUtf8(), QCryptographicHash::Sha256);
    return QStringLiteral("zelnik-") + QString::fromLatin1(digest.toHex().left(24));
}

bool single_instance_hand_over(const QString& program_dir, const QByteArray& command_line) {
    QLocalSocket socket;
    socket.connectToServer(single_instance_name(program_dir));
    if (!socket.waitForConnected(1000)) return false;
    socket.write(command_line.left(kMaxHandIn));
    socket.write("\n", 1);
    bool ok = socket.waitForBytesWritten(3000) || socket.bytesToWrite() == 0;
    socket.disconnectFromServer();
    if (socket.state() != QLocalSocket::UnconnectedState) socket.waitForDisconnected(1000);
    return ok;
}

SingleInstanceServer::SingleInstanceServer(const QString& program_dir,
                                           std::function<void(const QByteArray&)> received, QObject* parent)
    : QObject(parent), server_(new QLocalServer(this)), received_(std::move(received)) {
    const QString name = single_instance_name(program_dir);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // Nobody answered on this name, so a socket left there belongs to a
    // browser that crashed.
    if (!server_->listen(name)) {
        QLocalServer::removeServer(name);
        server_->listen(name);
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            auto* buffer = new QByteArray;
            connect(socket, &QLocalSocket::readyRead, socket, [socket, buffer] {
                QByteArray more = socket->readAll();
                if (buffer->size() < kMaxHandIn + 1) buffer->append(more.left(kMaxHandIn + 1 - buffer->size()));
            });
            connect(socket, &QLocalSocket::disconnected, this, [this, socket, buffer] {
                buffer->append(socket->readAll());
                QByteArray line = buffer->left(kMaxHandIn);
                int nl = line.indexOf('\n');
                if (nl >= 0) line.truncate(nl);
                delete buffer;
                socket->deleteLater();
                received_(line);
            });
        }
    });
}

bool SingleInstanceServer::listening() const { return server_->isListening(); }

}  // namespace zk
