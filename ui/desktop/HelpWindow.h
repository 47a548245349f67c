#pragma once

#include <QDialog>
#include <QStringList>
#include <QUrl>

class QTextBrowser;

namespace ui {

// Where the manual may live, in the order they are tried: help/ beside the executable (the
// build puts it there), the data folder of an installation relative to the executable, the
// data folder the program was built for.
QStringList ManualFolderCandidates();
// The first of the folders that holds the manual's index.html; empty when none does.
QString ManualFolder(const QStringList& candidates = ManualFolderCandidates());
// The page of a topic: "" is the contents, "setup" is setup.html, "naming#forms" an anchor in
// naming.html. Empty when the manual is not found.
QUrl ManualUrl(const QString& topic, const QString& folder = ManualFolder());

// The manual in a window of its own, with back, forward and home.
class CHelpWindow : public QDialog {
    Q_OBJECT
  public:
    explicit CHelpWindow(QWidget* parent = nullptr, QString folder = ManualFolder());

    void ShowTopic(const QString& topic);
    QTextBrowser& Browser() { return *m_browser; }

  private:
    QString m_folder;
    QTextBrowser* m_browser;
};

// Shows the one help window of `owner` (made at the first request) at a topic.
CHelpWindow& ShowHelp(QWidget* owner, const QString& topic);

} // namespace ui
