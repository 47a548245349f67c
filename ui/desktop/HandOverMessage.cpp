#include "ui/desktop/HandOverMessage.h"

#include <QDataStream>
#include <QIODevice>
#include <QtEndian>

namespace ui {

QByteArray EncodeHandOver(const QStringList& paths) {
    QByteArray body;
    QDataStream out(&body, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << paths;
    QByteArray message(4, '\0');
    qToBigEndian<quint32>(static_cast<quint32>(body.size()), message.data());
    message.append(body);
    return message;
}

std::optional<QStringList> DecodeHandOver(const QByteArray& body) {
    // Read by hand rather than through QDataStream: a count is believed only as far as the
    // bytes go, so a message claiming millions of entries costs nothing to refuse.
    const auto* at = reinterpret_cast<const uchar*>(body.constData());
    const auto* end = at + body.size();
    auto take32 = [&](quint32& value) {
        if (end - at < 4)
            return false;
        value = qFromBigEndian<quint32>(at);
        at += 4;
        return true;
    };
    quint32 count = 0;
    // 0xfffffffe would announce a 64-bit count: no list of ours is that long.
    if (!take32(count) || count >= 0xfffffffeu || count > static_cast<quint32>(end - at) / 4)
        return std::nullopt;
    QStringList paths;
    paths.reserve(count);
    for (quint32 i = 0; i < count; ++i) {
        quint32 bytes = 0;
        if (!take32(bytes))
            return std::nullopt;
        if (bytes == 0xffffffffu) { // a null string
            paths << QString();
            continue;
        }
        if (bytes == 0) {
            paths << QStringLiteral("");
            continue;
        }
        if (bytes % 2 != 0 || bytes > static_cast<quint32>(end - at))
            return std::nullopt;
        QString path(static_cast<qsizetype>(bytes / 2), Qt::Uninitialized);
        qFromBigEndian<char16_t>(at, bytes / 2, path.data());
        at += bytes;
        paths << path;
    }
    if (at != end)
        return std::nullopt;
    return paths;
}

} // namespace ui
