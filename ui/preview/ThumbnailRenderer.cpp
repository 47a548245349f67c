#include "ui/preview/ThumbnailRenderer.h"

#include <QDeadlineTimer>
#include <QMutex>
#include <QPdfDocument>
#include <QThread>
#include <QWaitCondition>

#include <algorithm>
#include <deque>

namespace ui {

namespace {

// About 48 MB of pictures: a few hundred pages, far more than a strip shows at once.
constexpr int kCacheKilobytes = 48 * 1024;
constexpr int kStopWaitMilliseconds = 3000;

QString ProblemText(QPdfDocument::Error error) {
    switch (error) {
    case QPdfDocument::Error::None:
        return {};
    case QPdfDocument::Error::FileNotFound:
        return QStringLiteral("The file cannot be found, so its pages cannot be shown.");
    case QPdfDocument::Error::IncorrectPassword:
    case QPdfDocument::Error::UnsupportedSecurityScheme:
        return QStringLiteral("This file is protected by a password: its pages cannot be shown.");
    default:
        return QStringLiteral("This file cannot be read as a PDF: its pages cannot be shown.");
    }
}

QSize Fitted(QSizeF page, QSize box) {
    if (page.width() <= 0 || page.height() <= 0)
        return box;
    return page.scaled(QSizeF(box), Qt::KeepAspectRatio).toSize().expandedTo(QSize(1, 1));
}

} // namespace

// What the window's thread and the rendering thread share; everything in it is guarded by the
// mutex. The rendering thread holds its own reference, so the state outlives neither side.
struct CThumbnailRenderer::Shared {
    QMutex mutex;
    QWaitCondition wake;
    bool stop = false;
    QString openPath;
    bool openPending = false;
    int generation = 0;
    std::deque<int> wanted;
};

CThumbnailRenderer::CThumbnailRenderer(QSize box, QObject* parent)
    : QObject(parent), m_shared(std::make_shared<Shared>()) {
    m_cache.setMaxCost(kCacheKilobytes);
    std::shared_ptr<Shared> shared = m_shared;
    m_thread = QThread::create([this, shared, box] {
        // The document belongs to this thread alone: the window's thread never calls into the
        // PDF library, so nothing the library does can freeze it.
        QPdfDocument document;
        // Results go to the window's thread only while the renderer is known to live: its
        // destructor says stop under the same lock before it goes.
        const auto post = [&](auto&& result) {
            QMutexLocker guard(&shared->mutex);
            if (!shared->stop)
                QMetaObject::invokeMethod(this, std::forward<decltype(result)>(result),
                                          Qt::QueuedConnection);
        };
        int generation = -1;
        bool usable = false;
        while (true) {
            QMutexLocker lock(&shared->mutex);
            while (!shared->stop && !shared->openPending && (shared->wanted.empty() || !usable))
                shared->wake.wait(&shared->mutex);
            if (shared->stop)
                return;
            if (shared->openPending) {
                const QString path = shared->openPath;
                shared->openPending = false;
                generation = shared->generation;
                lock.unlock();
                document.close();
                const QPdfDocument::Error error = document.load(path);
                const int pages = error == QPdfDocument::Error::None ? document.pageCount() : 0;
                usable = error == QPdfDocument::Error::None && pages > 0;
                QString problem = ProblemText(error);
                if (problem.isEmpty() && pages <= 0)
                    problem = QStringLiteral("This file has no pages to show.");
                post([this, generation, pages, problem] {
                    if (generation == m_generation)
                        emit opened(pages, problem);
                });
                continue;
            }
            const int page = shared->wanted.back();
            shared->wanted.pop_back();
            lock.unlock();
            if (page < 0 || page >= document.pageCount())
                continue;
            const QImage image = document.render(page, Fitted(document.pagePointSize(page), box));
            post([this, generation, page, image] { Delivered(generation, page, image); });
        }
    });
    m_thread->setObjectName(QStringLiteral("thumbnails"));
    m_thread->start(QThread::LowPriority);
}

CThumbnailRenderer::~CThumbnailRenderer() {
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->stop = true;
        m_shared->wake.wakeAll();
    }
    // The page being rendered is finished first. A file the PDF library never comes back from
    // must not hold up the end of the program: that thread is left to end on its own, and it
    // touches nothing of ours once told to stop.
    if (m_thread->wait(QDeadlineTimer(kStopWaitMilliseconds)))
        delete m_thread;
}

void CThumbnailRenderer::Open(const QString& path) {
    m_path = path;
    m_cache.clear();
    QMutexLocker lock(&m_shared->mutex);
    m_generation = ++m_shared->generation;
    m_shared->openPath = path;
    m_shared->openPending = true;
    m_shared->wanted.clear();
    m_shared->wake.wakeAll();
}

const QImage* CThumbnailRenderer::Cached(int page) const {
    return m_cache.object(page);
}

void CThumbnailRenderer::Request(int page) {
    if (m_cache.contains(page))
        return;
    QMutexLocker lock(&m_shared->mutex);
    auto& wanted = m_shared->wanted;
    // The newest request is served first: it is the page the user is looking at now.
    wanted.erase(std::remove(wanted.begin(), wanted.end(), page), wanted.end());
    wanted.push_back(page);
    m_shared->wake.wakeAll();
}

void CThumbnailRenderer::KeepOnly(int first, int last) {
    QMutexLocker lock(&m_shared->mutex);
    auto& wanted = m_shared->wanted;
    wanted.erase(std::remove_if(wanted.begin(), wanted.end(),
                                [&](int page) { return page < first || page > last; }),
                 wanted.end());
}

void CThumbnailRenderer::Delivered(int generation, int page, const QImage& image) {
    if (generation != m_generation || image.isNull())
        return;
    m_cache.insert(page, new QImage(image), std::max<int>(1, int(image.sizeInBytes() / 1024)));
    emit rendered(page);
}

} // namespace ui
