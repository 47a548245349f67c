#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

class QLocalSocket;
class QSocketNotifier;
class QWidget;

namespace ui {

// One window per user and working directory. The first start takes a lock beside a local socket
// whose name is made from both and listens on the socket; a later start with the same key finds
// the lock taken, hands its files to that window and ends instead of opening a second one. The
// working directory is part of the key because the program's files (split.log, setup.ini,
// default.spl) are relative to it: a window started elsewhere works on other files and stays a
// window of its own.
//
// The socket lives in a folder of this user alone (the runtime folder, or one made in the
// temporary folder), checked before every use; a start hands files only to a listener of the
// same user. When anything is off, the start simply opens its own window.
class CSingleInstance final : public QObject {
    Q_OBJECT
  public:
    // Keyed on this user and the current working directory.
    explicit CSingleInstance(QObject* parent = nullptr);
    // Keyed on a socket path of the caller's choosing; its folder is checked like our own.
    CSingleInstance(QString serverName, QObject* parent);
    ~CSingleInstance() override;

    // The socket for `workingDirectory` of this user, in the user's private folder (made when
    // missing); empty when there is no folder of this user alone to put it in.
    static QString ServerNameFor(const QString& workingDirectory);

    // Gives `paths` (made absolute) to the window that holds this key; true when it took them.
    // Without such a window this start becomes the one: it keeps the lock and makes its socket
    // at once, so a start a moment later finds it and waits until Listen. `timeoutMs` bounds
    // each wait.
    bool HandOver(const QStringList& paths, int timeoutMs = 10000);
    // Starts taking hand-overs (if HandOver has not already); false when the key is another
    // window's or the socket cannot be made (the window then simply works alone).
    bool Listen();
    const QString& ServerName() const { return m_name; }

    // Bounds on what a listener takes: a message's size, how long a connection may stay
    // without sending its message, how many connections are served at once.
    static constexpr qint64 kMaxMessage = 512 * 1024;
    void SetLimits(int idleMilliseconds, int maxConnections);

  signals:
    // A later start handed these paths over (none: it was started without files).
    void FilesReceived(const QStringList& paths);

  private:
    bool TakeLock();
    bool Bind();
    void Accept();
    void Read(QLocalSocket* socket);

    QString m_name;
    int m_lockFd = -1;
    bool m_locked = false;
    int m_listenFd = -1;
    dev_t m_socketDevice = 0;
    ino_t m_socketInode = 0;
    QSocketNotifier* m_notifier = nullptr;
    int m_idleMilliseconds = 5000;
    int m_maxConnections = 8;
};

// What a start of the window was asked to do.
struct StartupArguments {
    bool version = false;
    QStringList files; // absolute, in command-line order
};
StartupArguments ParseStartupArguments(const QStringList& arguments);

// Adds `paths` through `drop` exactly as a drop of them would be, as soon as no other modal
// dialog (a parameter prompt, a message box) is open above `window`: files handed over while
// the user answers a prompt wait for that prompt to close.
void AddFilesWhenIdle(QWidget* window, const QStringList& paths,
                      std::function<void(const std::vector<std::string>&)> drop);

} // namespace ui
