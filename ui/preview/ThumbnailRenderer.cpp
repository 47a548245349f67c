#include "ui/preview/ThumbnailRenderer.h"

#include "ui/preview/ThumbnailProtocol.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPdfDocument>
#include <QProcess>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace ui {

namespace {

using namespace thumbnails;

// About 48 MB of pictures: a few hundred pages, far more than a strip shows at once.
constexpr int kCacheKilobytes = 48 * 1024;

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

// What stands for a page the helper could not draw in time or at all: a grey sheet crossed out.
QImage Placeholder(QSize box) {
    QImage image(box, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(236, 236, 236));
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(150, 150, 150), 2));
    painter.drawRect(QRectF(image.rect()).adjusted(1, 1, -1, -1));
    const QRectF cross = QRectF(image.rect())
                             .adjusted(box.width() / 3.0, box.height() / 3.0, -box.width() / 3.0,
                                       -box.height() / 3.0);
    painter.drawLine(cross.topLeft(), cross.bottomRight());
    painter.drawLine(cross.topRight(), cross.bottomLeft());
    return image;
}

void AppendInts(QByteArray& out, std::initializer_list<int32_t> values) {
    for (int32_t value : values)
        out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

int32_t IntAt(const QByteArray& bytes, qsizetype at) {
    int32_t value = 0;
    std::memcpy(&value, bytes.constData() + at, sizeof value);
    return value;
}

} // namespace

CThumbnailRenderer::CThumbnailRenderer(QSize box, QObject* parent) : QObject(parent), m_box(box) {
    m_cache.setMaxCost(kCacheKilobytes);
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &CThumbnailRenderer::Overrun);
}

CThumbnailRenderer::~CThumbnailRenderer() {
    StopHelper();
    // Killed helpers end at once; each is reaped here rather than left to warn as it goes.
    for (QProcess* helper : findChildren<QProcess*>(Qt::FindDirectChildrenOnly)) {
        helper->disconnect();
        helper->kill();
        helper->waitForFinished(1000);
        delete helper;
    }
}

QString CThumbnailRenderer::HelperPath() {
    const QString here = QCoreApplication::applicationDirPath();
    for (const QString& folder : {here, here + QStringLiteral("/../libexec/quillsever")}) {
        const QFileInfo helper(folder + QLatin1Char('/') + QLatin1String(kHelperName));
        if (helper.isFile() && helper.isExecutable())
            return helper.absoluteFilePath();
    }
    return {};
}

void CThumbnailRenderer::SetDeadlines(int openMilliseconds, int pageMilliseconds) {
    m_openMilliseconds = openMilliseconds;
    m_pageMilliseconds = pageMilliseconds;
}

void CThumbnailRenderer::Open(const QString& path) {
    m_path = path;
    m_cache.clear();
    m_wanted.clear();
    m_announced = false;
    m_usable = false;
    m_pageCount = 0;
    // Work still running for the file before is of no use now.
    if (m_busy != Busy::Nothing)
        StopHelper();
    m_helperHasFile = false;
    // Only a regular file is handed over: a FIFO would hold the helper until its deadline for
    // nothing, and a device could feed it without end.
    struct stat st {};
    const QByteArray name = QFile::encodeName(path);
    if (::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        const auto error = errno == ENOENT || errno == ENOTDIR
                               ? QPdfDocument::Error::FileNotFound
                               : QPdfDocument::Error::InvalidFileFormat;
        m_announced = true; // nothing is to be opened for this file
        // Said from the event loop, as a helper's answer would be.
        const int generation = ++m_generation;
        QTimer::singleShot(0, this, [this, generation, error] {
            if (generation == m_generation)
                emit opened(0, ProblemText(error));
        });
        return;
    }
    ++m_generation;
    Pump();
}

const QImage* CThumbnailRenderer::Cached(int page) const {
    return m_cache.object(page);
}

void CThumbnailRenderer::Request(int page) {
    if (m_cache.contains(page))
        return;
    // The newest request is served first: it is the page the user is looking at now.
    m_wanted.erase(std::remove(m_wanted.begin(), m_wanted.end(), page), m_wanted.end());
    m_wanted.push_back(page);
    Pump();
}

void CThumbnailRenderer::KeepOnly(int first, int last) {
    m_wanted.erase(std::remove_if(m_wanted.begin(), m_wanted.end(),
                                  [&](int page) { return page < first || page > last; }),
                   m_wanted.end());
}

bool CThumbnailRenderer::StartHelper() {
    const QString program = HelperPath();
    if (program.isEmpty())
        return false;
    m_helper = new QProcess(this);
    m_helper->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(m_helper, &QProcess::readyReadStandardOutput, this, &CThumbnailRenderer::ReadReplies);
    // A helper that dies (its memory limit, a crash) or cannot start is treated as one that
    // overran. Requests written before it runs wait in the process's buffer.
    connect(m_helper, &QProcess::finished, this, &CThumbnailRenderer::Overrun);
    connect(m_helper, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            Overrun();
    });
    m_helper->start(program, {});
    return true;
}

void CThumbnailRenderer::StopHelper() {
    m_deadline.stop();
    m_busy = Busy::Nothing;
    m_helperHasFile = false;
    m_input.clear();
    if (!m_helper)
        return;
    QProcess* helper = m_helper;
    m_helper = nullptr;
    helper->disconnect(this);
    if (helper->state() == QProcess::NotRunning) {
        helper->deleteLater();
        return;
    }
    // Killed, not waited for: it goes once the system has ended it.
    connect(helper, &QProcess::finished, helper, &QObject::deleteLater);
    helper->kill();
}

void CThumbnailRenderer::Pump() {
    if (m_busy != Busy::Nothing || m_path.isEmpty())
        return;
    if (!m_helperHasFile && (!m_announced || m_usable)) {
        if (!m_helper && !StartHelper()) {
            if (!m_announced)
                Announce(0, QStringLiteral("The page pictures cannot be made: %1 is missing.")
                                .arg(QLatin1String(kHelperName)));
            return;
        }
        const QByteArray path = QFile::encodeName(m_path);
        QByteArray request(1, kOpen);
        AppendInts(request, {static_cast<int32_t>(path.size())});
        request += path;
        m_helper->write(request);
        m_busy = Busy::Opening;
        m_deadline.start(m_openMilliseconds);
        return;
    }
    if (!m_usable)
        return;
    while (!m_wanted.empty()) {
        const int page = m_wanted.back();
        m_wanted.pop_back();
        if (page < 0 || page >= m_pageCount || m_cache.contains(page))
            continue;
        QByteArray request(1, kRender);
        AppendInts(request, {page, m_box.width(), m_box.height()});
        m_helper->write(request);
        m_busy = Busy::Rendering;
        m_busyPage = page;
        m_deadline.start(m_pageMilliseconds);
        return;
    }
}

void CThumbnailRenderer::ReadReplies() {
    if (!m_helper)
        return;
    m_input += m_helper->readAllStandardOutput();
    while (!m_input.isEmpty()) {
        const char kind = m_input.at(0);
        if (kind == kOpen && m_busy == Busy::Opening) {
            if (m_input.size() < 9)
                return;
            const auto error = static_cast<QPdfDocument::Error>(IntAt(m_input, 1));
            const int pages = IntAt(m_input, 5);
            m_input.remove(0, 9);
            m_deadline.stop();
            m_busy = Busy::Nothing;
            m_helperHasFile = true;
            if (!m_announced) {
                QString problem = ProblemText(error);
                if (problem.isEmpty() && pages <= 0)
                    problem = QStringLiteral("This file has no pages to show.");
                m_usable = problem.isEmpty();
                m_pageCount = m_usable ? pages : 0;
                Announce(m_pageCount, problem);
            }
        } else if (kind == kRender && m_busy == Busy::Rendering) {
            if (m_input.size() < 13)
                return;
            const int page = IntAt(m_input, 1);
            const int width = IntAt(m_input, 5);
            const int height = IntAt(m_input, 9);
            // The helper runs whatever a PDF made of it: its word is checked, not trusted.
            if (page != m_busyPage || width < 0 || height < 0 || width > kMaxSide ||
                height > kMaxSide) {
                Overrun();
                return;
            }
            const qsizetype bytes = qsizetype{width} * height * 4;
            if (m_input.size() < 13 + bytes)
                return;
            QImage image;
            if (width > 0 && height > 0) {
                image = QImage(width, height, QImage::Format_ARGB32_Premultiplied);
                for (int y = 0; y < height; ++y)
                    std::memcpy(image.scanLine(y),
                                m_input.constData() + 13 + qsizetype{y} * width * 4,
                                static_cast<size_t>(width) * 4);
            }
            m_input.remove(0, 13 + bytes);
            m_deadline.stop();
            m_busy = Busy::Nothing;
            Deliver(page, image.isNull() ? Placeholder(m_box) : image);
        } else {
            Overrun(); // nothing we asked for
            return;
        }
    }
    Pump();
}

void CThumbnailRenderer::Overrun() {
    const Busy was = m_busy;
    const int page = m_busyPage;
    StopHelper();
    if (was == Busy::Opening) {
        // A file whose opening alone overruns shows no pages; a file that opened before and
        // now fails to open again in a fresh helper keeps its count and shows placeholders.
        if (!m_announced)
            Announce(
                0, QStringLiteral("This file takes too long to read: its pages cannot be shown."));
        else
            m_usable = false;
        m_wanted.clear();
    } else if (was == Busy::Rendering) {
        Deliver(page, Placeholder(m_box));
    }
    Pump();
}

void CThumbnailRenderer::Announce(int pages, const QString& problem) {
    m_announced = true;
    m_usable = problem.isEmpty() && pages > 0;
    m_pageCount = m_usable ? pages : 0;
    emit opened(pages, problem);
}

void CThumbnailRenderer::Deliver(int page, const QImage& image) {
    m_cache.insert(page, new QImage(image), std::max<int>(1, int(image.sizeInBytes() / 1024)));
    emit rendered(page);
}

} // namespace ui
