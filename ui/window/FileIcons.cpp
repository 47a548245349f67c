#include "ui/window/FileIcons.h"

#include <QApplication>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QStyle>

namespace ui {

QString CFileIconCache::IconKeyFor(const std::string& fileName, QIcon* icon) {
    static const QMimeDatabase database;
    // By extension only: the file is not read, and a missing file still gets its type's icon.
    const QMimeType type =
        database.mimeTypeForFile(QString::fromStdString(fileName), QMimeDatabase::MatchExtension);
    if (type.isValid()) {
        const QString name = type.iconName();
        if (!name.isEmpty() && QIcon::hasThemeIcon(name)) {
            if (icon)
                *icon = QIcon::fromTheme(name);
            return QStringLiteral("theme:") + name;
        }
        const QString generic = type.genericIconName();
        if (!generic.isEmpty() && QIcon::hasThemeIcon(generic)) {
            if (icon)
                *icon = QIcon::fromTheme(generic);
            return QStringLiteral("generic:") + generic;
        }
    }
    if (icon)
        *icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    return QStringLiteral("style:file");
}

int CFileIconCache::GetFileIconIndex(const std::string& fileName) {
    // The type is told by the name's extensions alone, so one look-up serves every name that
    // shares them: loading the icon anew for each of 100,000 batch jobs took most of the load.
    const QString suffixes = QFileInfo(QString::fromStdString(fileName)).completeSuffix();
    const auto known = m_indexOfSuffixes.constFind(suffixes);
    if (known != m_indexOfSuffixes.constEnd())
        return known.value();
    const int index = IndexFor(fileName);
    m_indexOfSuffixes.insert(suffixes, index);
    return index;
}

int CFileIconCache::IndexFor(const std::string& fileName) {
    QIcon icon;
    const QString key = IconKeyFor(fileName, &icon);
    const auto found = m_indexOfKey.constFind(key);
    if (found != m_indexOfKey.constEnd())
        return found.value();
    if (icon.isNull())
        return -1;
    m_icons.push_back(icon);
    const int index = static_cast<int>(m_icons.size()) - 1;
    m_indexOfKey.insert(key, index);
    return index;
}

QIcon CFileIconCache::Icon(int index) const {
    if (index < 0 || index >= m_icons.size())
        return {};
    return m_icons.at(index);
}

} // namespace ui
