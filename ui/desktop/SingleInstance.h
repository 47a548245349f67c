#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <string>
#include <vector>

class QLocalSocket;
class QWidget;

namespace ui {

// One window per user and working directory. The first start listens on a local socket whose
// name is made from both; a later start with the same key hands its files to that window and
// ends instead of opening a second one. The working directory is part of the key because the
// program's files (split.log, setup.ini, default.spl) are relative to it: a window started
// elsewhere works on other files and stays a window of its own.
class CSingleInstance final : public QObject {
    Q_OBJECT
  public:
    // Keyed on this user and the current working directory.
    explicit CSingleInstance(QObject* parent = nullptr);
    // Keyed on a socket name of the caller's choosing.
    CSingleInstance(QString serverName, QObject* parent);
    ~CSingleInstance() override;

    // The socket for `workingDirectory` of this user, in the user's runtime folder.
    static QString ServerNameFor(const QString& workingDirectory);

    // Gives `paths` (made absolute) to a window already listening under this key; true when it
    // took them. `timeoutMs` bounds each wait on a window that does not answer.
    bool HandOver(const QStringList& paths, int timeoutMs = 10000);
    // Starts taking hand-overs; false when the socket cannot be made (the window then simply
    // works alone).
    bool Listen();
    const QString& ServerName() const { return m_name; }

  signals:
    // A later start handed these paths over (none: it was started without files).
    void FilesReceived(const QStringList& paths);

  private:
    void Accept();
    void Read(QLocalSocket* socket);

    QString m_name;
    QLocalServer m_server;
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
