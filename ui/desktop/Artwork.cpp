#include "ui/desktop/Artwork.h"

#include <QPainter>
#include <QSvgRenderer>

// Resources of a static library are only linked in when something names them.
static void InitArtworkResources() {
    Q_INIT_RESOURCE(artwork);
}

namespace ui {

namespace {

QPixmap Render(const QString& resource, QSize size) {
    InitArtworkResources();
    QSvgRenderer renderer(resource);
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    return pixmap;
}

} // namespace

QIcon ProgramIcon() {
    // Drawn at every usual size, so that each is sharp without relying on an icon plugin.
    QIcon icon;
    for (int side : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(Render(QStringLiteral(":/quillsever/icon.svg"), QSize(side, side)));
    return icon;
}

QPixmap SplashPicture() {
    return Render(QStringLiteral(":/quillsever/splash.svg"), QSize(277, 280));
}

} // namespace ui
