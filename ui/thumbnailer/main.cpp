// quillsever-thumbnailer: renders page pictures for the window's preview, one process apart.
// A PDF can be made to take a renderer's memory or time without end; here that costs this
// process, which the window kills and replaces, never the window and its job list.

#include "core/Files.h"
#include "ui/preview/ThumbnailProtocol.h"

#include <QCoreApplication>
#include <QImage>
#include <QPdfDocument>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using namespace ui::thumbnails;

// Room for the pictures of honest pages, far below what a decompression bomb asks for.
constexpr rlim_t kMemoryBytes = rlim_t{1} << 30;
// Processor time for one file's opening or one page; the window's own deadline is shorter,
// this holds even if the window is gone.
constexpr rlim_t kSecondsPerRequest = 15;

void SetLimit(int resource, rlim_t soft, rlim_t hard) {
    const rlimit limit{soft, hard};
    ::setrlimit(resource, &limit);
}

void LimitEverything() {
    // Ends with the window, however the window ends.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
#if !defined(__SANITIZE_ADDRESS__)
    // A sanitizer's shadow memory alone is larger; such builds rely on the window's deadline.
    SetLimit(RLIMIT_DATA, kMemoryBytes, kMemoryBytes);
#endif
    SetLimit(RLIMIT_CORE, 0, 0);
    SetLimit(RLIMIT_FSIZE, 0, 0); // it writes no file; a try fails rather than ends us
    std::signal(SIGXFSZ, SIG_IGN);
    SetLimit(RLIMIT_NOFILE, 256, 256);
}

// The processor time this request may use, counted from what the process has used so far.
void BudgetRequest() {
    rusage used{};
    ::getrusage(RUSAGE_SELF, &used);
    const rlim_t seconds = static_cast<rlim_t>(used.ru_utime.tv_sec + used.ru_stime.tv_sec);
    SetLimit(RLIMIT_CPU, seconds + kSecondsPerRequest, RLIM_INFINITY);
}

bool ReadAll(void* to, size_t size) {
    return std::fread(to, 1, size, stdin) == size;
}

bool ReadInt(int32_t& value) {
    return ReadAll(&value, sizeof value);
}

void WriteInts(std::initializer_list<int32_t> values) {
    for (int32_t value : values)
        std::fwrite(&value, sizeof value, 1, stdout);
}

QSize Fitted(QSizeF page, QSize box) {
    if (page.width() <= 0 || page.height() <= 0)
        return box;
    return page.scaled(QSizeF(box), Qt::KeepAspectRatio).toSize().expandedTo(QSize(1, 1));
}

} // namespace

int main(int argc, char* argv[]) {
    LimitEverything();
    // The window's end closes our input; nothing may linger writing into a closed pipe.
    std::signal(SIGPIPE, SIG_DFL);
    QCoreApplication application(argc, argv);
    QPdfDocument document;
    int fd = -1;
    while (true) {
        const int command = std::fgetc(stdin);
        if (command == kOpen) {
            int32_t length = 0;
            if (!ReadInt(length) || length < 0 || length > 65536)
                return 1;
            std::string path(static_cast<size_t>(length), '\0');
            if (!ReadAll(path.data(), path.size()))
                return 1;
            BudgetRequest();
            document.close();
            if (fd >= 0)
                ::close(fd);
            // Only a regular file: a FIFO or a device would block or never end. The document
            // is loaded from the descriptor checked, not from the name again.
            fd = core::OpenRegularFd(path);
            QPdfDocument::Error error = QPdfDocument::Error::FileNotFound;
            if (fd < 0 && errno == ENODEV)
                error = QPdfDocument::Error::InvalidFileFormat;
            else if (fd >= 0)
                error = document.load(QStringLiteral("/proc/self/fd/%1").arg(fd));
            const int pages = error == QPdfDocument::Error::None ? document.pageCount() : 0;
            std::fputc(kOpen, stdout);
            WriteInts({static_cast<int32_t>(error), pages});
        } else if (command == kRender) {
            int32_t page = 0, width = 0, height = 0;
            if (!ReadInt(page) || !ReadInt(width) || !ReadInt(height))
                return 1;
            BudgetRequest();
            QImage image;
            if (page >= 0 && page < document.pageCount() && width > 0 && height > 0 &&
                width <= kMaxSide && height <= kMaxSide)
                image = document.render(page, Fitted(document.pagePointSize(page), {width, height}))
                            .convertToFormat(QImage::Format_ARGB32_Premultiplied);
            std::fputc(kRender, stdout);
            if (image.isNull() || image.width() > kMaxSide || image.height() > kMaxSide) {
                WriteInts({page, 0, 0});
            } else {
                WriteInts({page, image.width(), image.height()});
                for (int y = 0; y < image.height(); ++y)
                    std::fwrite(image.constScanLine(y), 4, static_cast<size_t>(image.width()),
                                stdout);
            }
        } else {
            return 0; // the window closed our input
        }
        if (std::fflush(stdout) != 0)
            return 1;
    }
}
