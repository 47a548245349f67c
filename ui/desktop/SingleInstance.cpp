#include "ui/desktop/SingleInstance.h"

#include "ui/desktop/HandOverMessage.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>
#include <QtEndian>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace ui {

namespace {

// The window answers one byte once it has queued the paths, so a start ends only when its
// files are safe with the window.
constexpr char kTaken = 'k';

// A folder of this user alone: ours, no link, nobody else may enter or write.
bool IsPrivateFolder(const QByteArray& path) {
    struct stat st {};
    return ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() &&
           (st.st_mode & 077) == 0;
}

// Where this user's sockets go: the runtime folder when it is really this user's (su keeps
// another user's in the environment), otherwise a folder of our own in the temporary folder,
// made for the user alone. Another user may have taken that name first: then there is none.
QString PrivateFolder() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.startsWith('/') && IsPrivateFolder(runtime))
        return QFile::decodeName(runtime);
    const QByteArray folder = QFile::encodeName(QDir::tempPath()) + "/quillsever-" +
                              QByteArray::number(static_cast<qulonglong>(::geteuid()));
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST)
        return {};
    return IsPrivateFolder(folder) ? QFile::decodeName(folder) : QString();
}

bool FolderOfIsPrivate(const QString& path) {
    const QString folder = QFileInfo(path).path();
    return IsPrivateFolder(QFile::encodeName(folder));
}

bool SocketAddress(const QString& path, sockaddr_un& address) {
    const QByteArray bytes = QFile::encodeName(path);
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (bytes.isEmpty() || static_cast<size_t>(bytes.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, bytes.constData(), static_cast<size_t>(bytes.size()));
    return true;
}

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(std::min<long long>(left, INT_MAX)) : 0;
}

bool WaitFor(int fd, short events, Clock::time_point deadline) {
    while (true) {
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, MillisecondsLeft(deadline));
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0 && (p.revents & events) != 0;
    }
}

constexpr int kNoWindowYet = -1;
constexpr int kForeignWindow = -2;

// A connection to the window's socket, made only when its listener is this very user.
int ConnectToOwnWindow(const QString& path, Clock::time_point deadline) {
    sockaddr_un address{};
    if (!SocketAddress(path, address))
        return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (!connected && (errno == EINPROGRESS || errno == EAGAIN) && WaitFor(fd, POLLOUT, deadline)) {
        int error = 0;
        socklen_t length = sizeof error;
        connected = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
    ucred peer{};
    socklen_t length = sizeof peer;
    if (!connected || ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
        ::close(fd);
        return kNoWindowYet;
    }
    if (peer.uid != ::geteuid()) {
        ::close(fd);
        return kForeignWindow;
    }
    return fd;
}

bool SendAll(int fd, const QByteArray& bytes, Clock::time_point deadline) {
    const char* at = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::send(fd, at, static_cast<size_t>(left), MSG_NOSIGNAL);
        if (n > 0) {
            at += n;
            left -= n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitFor(fd, POLLOUT, deadline))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

bool AnswerIsTaken(int fd, Clock::time_point deadline) {
    while (WaitFor(fd, POLLIN, deadline)) {
        char answer = 0;
        const ssize_t n = ::recv(fd, &answer, 1, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        return n == 1 && answer == kTaken;
    }
    return false;
}

// The paths in messages the window takes: each within the size cap, none empty.
std::vector<QStringList> Batches(const QStringList& paths) {
    std::vector<QStringList> batches(1);
    qint64 size = 8;
    for (const QString& path : paths) {
        const qint64 bytes = 4 + 2 * static_cast<qint64>(path.size());
        // Longer than any path the system takes: not a path, and no window could open it.
        if (path.isEmpty() || path.size() > PATH_MAX)
            continue;
        if (size + bytes > CSingleInstance::kMaxMessage && !batches.back().isEmpty()) {
            batches.emplace_back();
            size = 8;
        }
        batches.back() << path;
        size += bytes;
    }
    return batches;
}

} // namespace

CSingleInstance::CSingleInstance(QObject* parent)
    : CSingleInstance(ServerNameFor(QDir::currentPath()), parent) {}

CSingleInstance::CSingleInstance(QString serverName, QObject* parent)
    : QObject(parent), m_name(std::move(serverName)) {}

CSingleInstance::~CSingleInstance() {
    for (QLocalSocket* socket : findChildren<QLocalSocket*>(Qt::FindDirectChildrenOnly)) {
        socket->disconnect(this);
        delete socket;
    }
    if (m_listenFd >= 0) {
        delete m_notifier;
        ::close(m_listenFd);
        // Only the socket we made goes: a later window may have replaced it by its own.
        struct stat st {};
        const QByteArray path = QFile::encodeName(m_name);
        if (::lstat(path.constData(), &st) == 0 && st.st_dev == m_socketDevice &&
            st.st_ino == m_socketInode)
            ::unlink(path.constData());
    }
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

QString CSingleInstance::ServerNameFor(const QString& workingDirectory) {
    const QString folder = PrivateFolder();
    if (folder.isEmpty())
        return {};
    const QString canonical = QFileInfo(workingDirectory).canonicalFilePath();
    QByteArray key = QByteArray::number(static_cast<qulonglong>(::geteuid()));
    key += '\0';
    key += QFile::encodeName(canonical.isEmpty() ? workingDirectory : canonical);
    const QString hash = QString::fromLatin1(
        QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(24));
    // A socket path must stay short.
    return folder + QStringLiteral("/quillsever-") + hash + QStringLiteral(".socket");
}

void CSingleInstance::SetLimits(int idleMilliseconds, int maxConnections) {
    m_idleMilliseconds = idleMilliseconds;
    m_maxConnections = maxConnections;
}

bool CSingleInstance::TakeLock() {
    if (m_locked)
        return true;
    if (m_name.isEmpty() || !FolderOfIsPrivate(m_name))
        return false;
    if (m_lockFd < 0) {
        const QByteArray lockPath = QFile::encodeName(m_name + QStringLiteral(".lock"));
        m_lockFd = ::open(lockPath.constData(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        struct stat st {};
        if (m_lockFd >= 0 &&
            (::fstat(m_lockFd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())) {
            ::close(m_lockFd);
            m_lockFd = -1;
        }
        if (m_lockFd < 0)
            return false;
    }
    // Held for the window's whole life: whoever holds it is the window for this key, and a
    // window that dies lets go of it, however it dies.
    m_locked = ::flock(m_lockFd, LOCK_EX | LOCK_NB) == 0;
    return m_locked;
}

bool CSingleInstance::HandOver(const QStringList& paths, int timeoutMs) {
    if (m_name.isEmpty() || !FolderOfIsPrivate(m_name))
        return false;
    if (TakeLock()) {
        Bind();
        return false;
    }
    if (m_lockFd < 0)
        return false;
    QStringList absolute;
    for (const QString& path : paths)
        absolute << (path.isEmpty() ? path : QFileInfo(path).absoluteFilePath());
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (const QStringList& batch : Batches(absolute)) {
        // The window holding the lock may still be on its way to listening.
        int fd = -1;
        while ((fd = ConnectToOwnWindow(m_name, deadline)) < 0) {
            if (fd == kForeignWindow || MillisecondsLeft(deadline) == 0)
                return false;
            if (TakeLock()) { // that window is gone: this start is the window now
                Bind();
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        const bool taken =
            SendAll(fd, EncodeHandOver(batch), deadline) && AnswerIsTaken(fd, deadline);
        ::close(fd);
        if (!taken)
            return false;
    }
    return true;
}

bool CSingleInstance::Listen() {
    if (!Bind())
        return false;
    m_notifier->setEnabled(true);
    return true;
}

bool CSingleInstance::Bind() {
    if (m_listenFd >= 0)
        return true;
    if (!TakeLock())
        return false;
    sockaddr_un address{};
    if (!SocketAddress(m_name, address))
        return false;
    // We hold the lock, so whatever lies at the name is what a window that died left.
    ::unlink(address.sun_path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    struct stat st {};
    // The socket itself is the user's alone too, whatever the umask: connecting needs write
    // permission on it.
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::chmod(address.sun_path, 0700) != 0 || ::listen(fd, 16) != 0 ||
        ::lstat(address.sun_path, &st) != 0) {
        ::close(fd);
        return false;
    }
    m_listenFd = fd;
    m_socketDevice = st.st_dev;
    m_socketInode = st.st_ino;
    // Starts that come now wait in the socket's queue until Listen: the window takes their
    // files only once it is there to receive them.
    m_notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    m_notifier->setEnabled(false);
    connect(m_notifier, &QSocketNotifier::activated, this, &CSingleInstance::Accept);
    return true;
}

void CSingleInstance::Accept() {
    while (true) {
        // Connections past the bound wait in the socket's queue until one served ends.
        if (findChildren<QLocalSocket*>(Qt::FindDirectChildrenOnly).size() >= m_maxConnections) {
            m_notifier->setEnabled(false);
            return;
        }
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return;
        ucred peer{};
        socklen_t length = sizeof peer;
        // The folder keeps other users out; this keeps out whatever got in all the same.
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
            peer.uid != ::geteuid()) {
            ::close(fd);
            continue;
        }
        auto* socket = new QLocalSocket(this);
        if (!socket->setSocketDescriptor(fd)) {
            ::close(fd);
            delete socket;
            continue;
        }
        connect(socket, &QObject::destroyed, this, [this] { m_notifier->setEnabled(true); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { Read(socket); });
        // A start sends its message at once; one that sits idle is not one of ours.
        QTimer::singleShot(m_idleMilliseconds, socket, [socket] {
            if (!socket->property("done").toBool()) {
                socket->abort();
                socket->deleteLater();
            }
        });
        Read(socket);
    }
}

void CSingleInstance::Read(QLocalSocket* socket) {
    if (socket->property("done").toBool() || socket->bytesAvailable() < 4)
        return;
    quint32 size = 0;
    const QByteArray head = socket->peek(4);
    size = qFromBigEndian<quint32>(head.constData());
    auto refuse = [socket] {
        socket->setProperty("done", true);
        socket->abort();
        socket->deleteLater();
    };
    if (size > kMaxMessage)
        return refuse();
    if (socket->bytesAvailable() < 4 + static_cast<qint64>(size))
        return;
    socket->read(4);
    const std::optional<QStringList> paths = DecodeHandOver(socket->read(size));
    if (!paths)
        return refuse();
    socket->setProperty("done", true);
    QStringList files;
    for (const QString& path : *paths)
        if (!path.isEmpty())
            files << path;
    emit FilesReceived(files);
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
        else if (!a.isEmpty()) // an empty argument names no file
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
