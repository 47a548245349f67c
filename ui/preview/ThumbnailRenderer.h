#pragma once

#include <QCache>
#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>
#include <QTimer>

#include <deque>

class QProcess;

namespace ui {

// Page pictures of one PDF, small enough for a strip. Opening and rendering happen in a helper
// process (quillsever-thumbnailer) with limits on its memory and processor time, and with a
// deadline for each file and page: a page that overruns, or kills the helper, gets a
// placeholder picture, the helper is replaced, and the next page goes on in the fresh one. The
// window never waits for the helper. Finished pictures are kept in a cache of bounded size.
// Only pages asked for are rendered, the most recent request first, and requests for pages that
// have left the view can be withdrawn.
class CThumbnailRenderer : public QObject {
    Q_OBJECT

  public:
    // box: the largest picture; each page is fitted into it keeping its proportions.
    explicit CThumbnailRenderer(QSize box, QObject* parent = nullptr);
    ~CThumbnailRenderer() override;

    // Starts opening `path` (the previous file and its pictures are dropped). Says opened().
    void Open(const QString& path);
    const QString& Path() const { return m_path; }

    // The picture of page (0-based), or nullptr when it is not rendered yet.
    const QImage* Cached(int page) const;
    // Asks for a page's picture; rendered() follows unless the request is withdrawn.
    void Request(int page);
    // Withdraws every request for a page outside [first, last].
    void KeepOnly(int first, int last);

    // How long the helper may take to open a file and to render one page.
    void SetDeadlines(int openMilliseconds, int pageMilliseconds);
    // The helper program: beside this program, or in ../libexec/quillsever; empty when absent.
    static QString HelperPath();

  signals:
    // The file is open: its page count, or a problem (then no page will be shown).
    void opened(int pageCount, const QString& problem);
    void rendered(int page);

  private:
    enum class Busy { Nothing, Opening, Rendering };

    void Pump();
    bool StartHelper();
    void StopHelper();
    void ReadReplies();
    void Overrun();
    void Announce(int pages, const QString& problem);
    void Deliver(int page, const QImage& image);

    QSize m_box;
    QString m_path;
    QProcess* m_helper = nullptr;
    QByteArray m_input;
    Busy m_busy = Busy::Nothing;
    int m_busyPage = -1;
    bool m_helperHasFile = false; // the running helper has m_path open
    bool m_announced = false;     // opened() was said for m_path
    bool m_usable = false;        // m_path has pages to show
    int m_pageCount = 0;
    int m_generation = 0; // counts Open calls, so a late word about an earlier file is dropped
    int m_openMilliseconds = 10000;
    int m_pageMilliseconds = 5000;
    QTimer m_deadline;
    std::deque<int> m_wanted;
    QCache<int, QImage> m_cache;
};

} // namespace ui
