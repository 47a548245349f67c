#include "ui/desktop/SingleInstance.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <unistd.h>

namespace ui {

namespace {

// A hand-over is a length-prefixed list of paths; the window answers one byte once it has
// queued them, so a start ends only when its files are safe with the window.
constexpr char kTaken = 'k';
constexpr quint32 kMaxMessage = 64u << 20;

QByteArray Encode(const QStringList& paths) {
    QByteArray body;
    QDataStream out(&body, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << paths;
    QByteArray message;
    QDataStream frame(&message, QIODevice::WriteOnly);
    frame << static_cast<quint32>(body.size());
    message.append(body);
    return message;
}

} // namespace

CSingleInstance::CSingleInstance(QObject* parent)
    : CSingleInstance(ServerNameFor(QDir::currentPath()), parent) {}

CSingleInstance::CSingleInstance(QString serverName, QObject* parent)
    : QObject(parent), m_name(std::move(serverName)) {
    connect(&m_server, &QLocalServer::newConnection, this, &CSingleInstance::Accept);
}

CSingleInstance::~CSingleInstance() = default;

QString CSingleInstance::ServerNameFor(const QString& workingDirectory) {
    const QString canonical = QFileInfo(workingDirectory).canonicalFilePath();
    QByteArray key = QByteArray::number(static_cast<qulonglong>(::getuid()));
    key += '\0';
    key += QFile::encodeName(canonical.isEmpty() ? workingDirectory : canonical);
    const QString hash = QString::fromLatin1(
        QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(24));
    // The runtime folder belongs to the user alone; without one the socket itself is made for
    // the user alone (and the key holds the user). A socket path must stay short.
    const QString folder = qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")
                               ? QDir::tempPath()
                               : qEnvironmentVariable("XDG_RUNTIME_DIR");
    return folder + QStringLiteral("/quillsever-") + hash + QStringLiteral(".socket");
}

bool CSingleInstance::HandOver(const QStringList& paths, int timeoutMs) {
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    QStringList absolute;
    for (const QString& path : paths)
        absolute << QFileInfo(path).absoluteFilePath();
    socket.write(Encode(absolute));
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    while (socket.bytesAvailable() < 1)
        if (!socket.waitForReadyRead(timeoutMs))
            return false;
    char answer = 0;
    return socket.getChar(&answer) && answer == kTaken;
}

bool CSingleInstance::Listen() {
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (m_server.listen(m_name))
        return true;
    // Nobody answered HandOver, so a socket file left there is one a crashed window left.
    if (m_server.serverError() == QAbstractSocket::AddressInUseError) {
        QLocalServer::removeServer(m_name);
        return m_server.listen(m_name);
    }
    return false;
}

void CSingleInstance::Accept() {
    while (QLocalSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Read(socket); });
        Read(socket);
    }
}

void CSingleInstance::Read(QLocalSocket* socket) {
    if (socket->property("done").toBool())
        return;
    if (socket->bytesAvailable() < 4)
        return;
    QByteArray head = socket->peek(4);
    QDataStream frame(head);
    quint32 size = 0;
    frame >> size;
    if (size > kMaxMessage) {
        socket->abort(); // not one of ours
        return;
    }
    if (socket->bytesAvailable() < 4 + static_cast<qint64>(size))
        return;
    socket->read(4);
    QDataStream in(socket->read(size));
    in.setVersion(QDataStream::Qt_6_0);
    QStringList paths;
    in >> paths;
    if (in.status() != QDataStream::Ok) {
        socket->abort();
        return;
    }
    socket->setProperty("done", true);
    emit FilesReceived(paths);
    socket->putChar(kTaken);
    socket->flush();
    socket->disconnectFromServer();
}

StartupArguments ParseStartupArguments(const QStringList& arguments) {
    StartupArguments result;
    bool optionsEnded = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (!optionsEnded && a == QLatin1String("--"))
            optionsEnded = true;
        else if (!optionsEnded && a == QLatin1String("--version"))
            result.version = true;
        else
            result.files << QFileInfo(a).absoluteFilePath();
    }
    return result;
}

void AddFilesWhenIdle(QWidget* window, const QStringList& paths,
                      std::function<void(const std::vector<std::string>&)> drop) {
    if (paths.isEmpty())
        return;
    QPointer<QWidget> target(window);
    QTimer::singleShot(0, window, [target, paths, drop = std::move(drop)] {
        if (!target)
            return;
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != target) {
            // Asked again shortly: a prompt may stay open for as long as the user likes.
            QTimer::singleShot(100, target,
                               [target, paths, drop] { AddFilesWhenIdle(target, paths, drop); });
            return;
        }
        std::vector<std::string> local;
        for (const QString& path : paths)
            local.push_back(QFile::encodeName(path).toStdString());
        drop(local);
    });
}

} // namespace ui
