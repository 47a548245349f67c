#include "engine/QpdfValues.h"

namespace engine {

QOH CopyValue(QPDF& to, QOH value, int depth) {
    if (value.isIndirect()) {
        if (value.getOwningQPDF() == &to)
            return value;
        // Neither a page nor a node of the page tree: copied alone, a node would bring
        // the source's tree of pages along, and qpdf does not survive the result.
        return value.isPageObject() || value.isPagesObject() ? QOH::newNull()
                                                             : to.copyForeignObject(value);
    }
    if (depth > kMaxTreeDepth)
        return QOH::newNull();
    if (value.isArray()) {
        QOH copy = QOH::newArray();
        for (QOH& item : value.getArrayAsVector())
            copy.appendItem(CopyValue(to, item, depth + 1));
        return copy;
    }
    if (value.isDictionary()) {
        QOH copy = QOH::newDictionary();
        for (const std::string& key : value.getKeys())
            copy.replaceKey(key, CopyValue(to, value.getKey(key), depth + 1));
        return copy;
    }
    if (!value.isInitialized())
        return QOH::newNull();
    return value.shallowCopy();
}

std::optional<Jump> JumpOf(QOH item) {
    if (!item.isDictionary())
        return std::nullopt;
    QOH dest = item.getKey("/Dest");
    if (!dest.isNull())
        return Jump{item, "/Dest", dest};
    QOH action = item.getKey("/A");
    if (action.isDictionary() && action.getKey("/S").isNameAndEquals("/GoTo"))
        return Jump{action, "/D", action.getKey("/D")};
    return std::nullopt;
}

QOH ExplicitArray(QOH dest) {
    if (dest.isDictionary())
        dest = dest.getKey("/D");
    return dest.isArray() && dest.getArrayNItems() > 0 ? dest : QOH::newNull();
}

Target ExplicitTarget(QOH dest, const ObjGenMap<int>& pageIndex, size_t pageCount) {
    Target t;
    QOH array = ExplicitArray(dest);
    if (array.isNull())
        return t;
    QOH first = array.getArrayItem(0);
    if (first.isIndirect()) {
        auto it = pageIndex.find(first.getObjGen());
        if (it != pageIndex.end())
            t.page = it->second;
    } else if (first.isInteger() && first.getIntValue() >= 0 &&
               static_cast<uint64_t>(first.getIntValue()) < pageCount) {
        t.page = static_cast<int>(first.getIntValue());
    }
    if (t.page >= 0)
        t.dest = array;
    return t;
}

QOH CopiedDest(QPDF& to, QOH page, QOH sourceDest) {
    QOH dest = QOH::newArray();
    dest.appendItem(page);
    for (int i = 1; i < sourceDest.getArrayNItems(); ++i)
        dest.appendItem(CopyValue(to, sourceDest.getArrayItem(i)));
    return dest;
}

} // namespace engine
