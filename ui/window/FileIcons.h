#pragma once

#include <QHash>
#include <QIcon>
#include <QString>
#include <QVector>

#include <string>

namespace ui {

// The icons of file types, by name only: the file is never opened and need not exist. Each
// distinct icon is kept once, so a list of a hundred PDFs holds one entry and every row shares
// its index.
class CFileIconCache {
  public:
    // The own-list index of the icon of the file name's type; -1 when no icon can be had.
    int GetFileIconIndex(const std::string& fileName);

    QIcon Icon(int index) const;
    int Count() const { return static_cast<int>(m_icons.size()); }

    // Which icon the desktop has for the name's type, as a key that is the same for every name
    // of that type: "theme:NAME", "generic:NAME" or "style:file".
    static QString IconKeyFor(const std::string& fileName, QIcon* icon = nullptr);

  private:
    int IndexFor(const std::string& fileName);

    QVector<QIcon> m_icons;
    QHash<QString, int> m_indexOfKey;
    QHash<QString, int> m_indexOfSuffixes;
};

} // namespace ui
