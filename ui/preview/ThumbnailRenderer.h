#pragma once

#include <QCache>
#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>

#include <memory>

class QThread;

namespace ui {

// Page pictures of one PDF, small enough for a strip. Opening and rendering happen on a thread
// of their own, so a large, damaged or slow file never holds up the window; finished pictures
// are kept in a cache of bounded size. Only pages asked for are rendered, the most recent
// request first, and requests for pages that have left the view can be withdrawn.
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

  signals:
    // The file is open: its page count, or a problem (then no page will be shown).
    void opened(int pageCount, const QString& problem);
    void rendered(int page);

  private:
    struct Shared;

    void Delivered(int generation, int page, const QImage& image);

    std::shared_ptr<Shared> m_shared;
    QThread* m_thread = nullptr;
    QString m_path;
    int m_generation = 0;
    QCache<int, QImage> m_cache;
};

} // namespace ui
