// One window per user and working directory: a later start's files reach the first window, and
// they are added as a drop would add them, never while another prompt is open.
#include "ui/desktop/SingleInstance.h"

#include "ui/desktop/HandOverMessage.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using ui::CSingleInstance;

namespace {

// A socket at `name`: bound only, or listening, or connected to a listener there.
enum class Socket { Bound, Listening, Connected };
int SocketAt(const QString& name, Socket kind) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_un address{AF_UNIX, {}};
    const QByteArray path = QFile::encodeName(name);
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    const auto* at = reinterpret_cast<sockaddr*>(&address);
    if (kind == Socket::Connected)
        ::connect(fd, at, sizeof address);
    else if (::bind(fd, at, sizeof address) != 0 || (kind == Socket::Listening && ::listen(fd, 4)))
        return -1;
    return fd;
}

// "k" for the window's answer, "closed" when it hung up, "" while nothing came.
QString Answer(int fd) {
    char byte = 0;
    const ssize_t n = ::recv(fd, &byte, 1, 0);
    return n == 1 ? QString(QChar(byte)) : n == 0 || errno != EAGAIN ? "closed" : "";
}

} // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT

  private slots:
    void ArgumentsGiveFilesInOrderAndVersion() {
        const QString cwd = QDir::currentPath();
        const struct {
            QStringList arguments;
            bool version;
            QStringList files;
        } cases[] = {
            {{"quillsever"}, false, {}},
            {{"quillsever", "b.pdf", "/in/a.pdf"}, false, {cwd + "/b.pdf", "/in/a.pdf"}},
            {{"quillsever", "--version"}, true, {}},
            {{"quillsever", "--", "--version"}, false, {cwd + "/--version"}},
            {{"quillsever", "", "a.pdf"}, false, {cwd + "/a.pdf"}},
        };
        for (const auto& c : cases) {
            const ui::StartupArguments parsed = ui::ParseStartupArguments(c.arguments);
            QCOMPARE(parsed.version, c.version);
            QCOMPARE(parsed.files, c.files);
        }
    }

    void KeyIsTheUserAndTheWorkingDirectory() {
        QTemporaryDir a, b;
        QVERIFY(QDir(a.path()).mkdir("sub"));
        const QString key = CSingleInstance::ServerNameFor(a.path());
        QCOMPARE(CSingleInstance::ServerNameFor(a.path() + "/sub/.."), key);
        QVERIFY(CSingleInstance::ServerNameFor(b.path()) != key);
        QVERIFY(CSingleInstance::ServerNameFor(a.path() + "/sub") != key);
        QVERIFY(key.endsWith(".socket"));
        QVERIFY2(key.size() < 100, "a local socket path must stay short");
    }

    void ASecondStartHandsItsFilesToTheFirst() {
        QTemporaryDir dir;
        const QString name = dir.filePath("instance.socket");
        CSingleInstance first(name, nullptr);
        QVERIFY(first.Listen());
        QSignalSpy received(&first, &CSingleInstance::FilesReceived);

        // The later start blocks until the window answers, so it runs beside the window's
        // event loop, as it would in its own process.
        bool taken = false;
        std::thread second([&] {
            CSingleInstance other(name, nullptr);
            taken = other.HandOver({"/in/a.pdf", "/in/b c.pdf"});
        });
        QTRY_COMPARE(received.count(), 1);
        second.join();
        QVERIFY(taken);
        QCOMPARE(received.at(0).at(0).toStringList(), (QStringList{"/in/a.pdf", "/in/b c.pdf"}));
    }

    // Whoever holds the lock is the window: it takes over what a crashed window left, a start
    // that loses the race neither listens nor, when it closes, removes the winner's socket, and
    // a window removes only the socket it made.
    void OneWindowPerKeyAndEachRemovesOnlyItsOwnSocket() {
        QTemporaryDir dir;
        const QString name = dir.filePath("instance.socket");
        ::close(SocketAt(name, Socket::Bound)); // a crashed window's socket file
        auto winner = std::make_unique<CSingleInstance>(name, nullptr);
        QVERIFY(!winner->HandOver({"/in/a.pdf"}, 2000));
        QVERIFY(winner->Listen());
        {
            CSingleInstance loser(name, nullptr);
            QVERIFY(!loser.Listen());
        }
        QVERIFY2(QFileInfo(name).exists(), "the loser left the winner's socket alone");
        QVERIFY(QFile::remove(name));
        ::close(SocketAt(name, Socket::Bound)); // someone else's socket now has the name
        winner.reset();
        QVERIFY2(QFileInfo(name).exists(), "the window removed only its own socket");
    }

    // Each case: the folder the socket lies in, and what the listener is. The start must open
    // its own window (HandOver false) without sending a byte to a stranger.
    void StrangersAndUnsafeFoldersAreNeverHandedFiles() {
        if (::geteuid() != 0)
            QSKIP("another user's listener can only be made as root");
        const struct {
            const char* what;
            mode_t folderMode;
            uid_t folderOwner;
            bool strangerListens;
        } cases[] = {
            {"open folder", 0755, 0, false},
            {"stranger's folder", 0700, 65534, false},
            {"stranger listening", 0700, 0, true},
        };
        for (const auto& c : cases) {
            QTemporaryDir dir;
            const QString folder = dir.filePath("sockets");
            QVERIFY(QDir().mkdir(folder));
            QVERIFY(::chmod(QFile::encodeName(folder), c.folderMode) == 0);
            QVERIFY(::chown(QFile::encodeName(folder), c.folderOwner, c.folderOwner) == 0);
            const QString name = folder + "/instance.socket";
            int heard[2];
            QVERIFY(::pipe(heard) == 0);
            pid_t stranger = -1;
            if (c.strangerListens) {
                stranger = ::fork();
                if (stranger == 0) {
                    const int lock =
                        ::open(QFile::encodeName(name + ".lock"), O_RDWR | O_CREAT, 0600);
                    ::flock(lock, LOCK_EX);
                    const int fd = SocketAt(name, Socket::Bound);
                    ::fcntl(fd, F_SETFL, 0); // it waits for the start's connection
                    // Credentials are taken at listen(): from here on it is the stranger's.
                    if (::setresuid(65534, 65534, 65534) != 0 || ::listen(fd, 4) != 0)
                        ::_exit(1);
                    const int client = ::accept(fd, nullptr, nullptr);
                    char byte = 0;
                    ::write(heard[1], ::recv(client, &byte, 1, 0) == 1 ? "y" : "n", 1);
                    ::_exit(0);
                }
                QTest::qWait(300);
            }
            ::close(heard[1]);
            CSingleInstance start(name, nullptr);
            QVERIFY2(!start.HandOver({"/in/a.pdf"}, 3000), c.what);
            if (stranger > 0) {
                char byte = 0;
                QCOMPARE(::read(heard[0], &byte, 1), ssize_t(1));
                QCOMPARE(byte, 'n');
                ::waitpid(stranger, nullptr, 0);
            } else {
                QVERIFY2(!start.Listen() && !QFileInfo(name).exists(), c.what);
            }
            ::close(heard[0]);
        }
    }

    // What reaches a window is bounded: an oversized or malformed message is dropped, an idle
    // client is let go, connections past the bound wait their turn, empty paths are ignored.
    void HandOversAreBounded() {
        QTemporaryDir dir;
        const QString name = dir.filePath("instance.socket");
        CSingleInstance window(name, nullptr);
        window.SetLimits(300, 2);
        QVERIFY(window.Listen());
        QSignalSpy received(&window, &CSingleInstance::FilesReceived);
        QByteArray huge(4, '\0');
        qToBigEndian<quint32>(CSingleInstance::kMaxMessage + 1, huge.data());
        QByteArray countOnly = ui::EncodeHandOver({"/a.pdf"});
        countOnly.truncate(8);
        qToBigEndian<quint32>(4, countOnly.data());
        qToBigEndian<quint32>(0x7fffffff, countOnly.data() + 4); // entries that are not there
        const struct {
            QByteArray bytes;
            const char* ending; // what the client sees
        } cases[] = {
            {huge, "closed"},
            {countOnly, "closed"},
            {QByteArray(), "closed"}, // idle
            {ui::EncodeHandOver({"", "/in/b.pdf", ""}), "k"},
        };
        for (const auto& c : cases) {
            const int fd = SocketAt(name, Socket::Connected);
            ::send(fd, c.bytes.constData(), static_cast<size_t>(c.bytes.size()), MSG_NOSIGNAL);
            QString seen;
            for (int wait = 0; wait < 100 && (seen = Answer(fd)).isEmpty(); ++wait)
                QTest::qWait(50);
            QCOMPARE(seen, QString(c.ending));
            ::close(fd);
        }
        QCOMPARE(received.count(), 1);
        QCOMPARE(received.at(0).at(0).toStringList(), QStringList{"/in/b.pdf"});

        // Two idle clients fill the window; a start waits for one to be let go.
        const int idle[2] = {SocketAt(name, Socket::Connected), SocketAt(name, Socket::Connected)};
        bool taken = false;
        std::thread start([&] { taken = CSingleInstance(name, nullptr).HandOver({"/in/c.pdf"}); });
        QTRY_COMPARE(received.count(), 2);
        start.join();
        QVERIFY(taken);
        for (int fd : idle)
            ::close(fd);
    }
    void FilesWaitForAnOpenPromptToClose() {
        QWidget window;
        window.show();
        QDialog prompt(&window);
        prompt.setModal(true);
        prompt.show();
        QTRY_COMPARE(QApplication::activeModalWidget(), &prompt);
        std::vector<std::vector<std::string>> drops;
        ui::AddFilesWhenIdle(
            &window, {"/in/a.pdf", "/in/b.pdf"},
            [&](const std::vector<std::string>& paths) { drops.push_back(paths); });
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
        QVERIFY2(drops.empty(), "nothing is added above an open prompt");
        prompt.accept();
        QTRY_COMPARE(drops.size(), size_t{1});
        QCOMPARE(drops[0], (std::vector<std::string>{"/in/a.pdf", "/in/b.pdf"}));
    }
};

QTEST_MAIN(SingleInstanceTest)
#include "SingleInstanceTest.moc"
