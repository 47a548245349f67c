#pragma once

#include "engine/ObjGenHash.h"

#define POINTERHOLDER_TRANSITION 4
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <optional>
#include <string>

namespace engine {

using QOH = QPDFObjectHandle;

// qpdf itself refuses objects nested deeper than 500; a page tree or a name tree that deep is
// damaged, and qpdf's own walks of it recurse once per level.
inline constexpr int kMaxTreeDepth = 500;
// Form fields nest a few levels; qpdf stops following /Parent after 100.
inline constexpr int kMaxFieldDepth = 100;

// The value under `key`, or null. qpdf's getKey builds a described null object for a missing
// key, about a thousand instructions; the hot paths of a part ask for keys most pages lack.
inline QOH KeyOrNull(QOH dict, const std::string& key) {
    static const QOH null = QOH::newNull();
    return dict.hasKey(key) ? dict.getKey(key) : null;
}

// A value of a source made part of `to`: indirect objects go through qpdf's foreign-object
// copy (the same copier the pages use, so a reference to a copied page lands on its copy),
// direct containers are rebuilt item by item. Pages are never dragged in this way.
QOH CopyValue(QPDF& to, QOH value, int depth = 0);

// Where an annotation or outline item jumps to inside its document: its /Dest, or the /D of
// its GoTo action. `holder` is the dictionary that holds the destination under `key`.
struct Jump {
    QOH holder;
    std::string key;
    QOH dest;
};

std::optional<Jump> JumpOf(QOH item);

// The explicit destination array of a destination value (an array, or a dictionary with /D).
QOH ExplicitArray(QOH dest);

// A destination resolved to a page of its source.
struct Target {
    int page = -1; // 0-based, -1 when it shows no page of this file
    QOH dest;      // the explicit array, page first
};

Target ExplicitTarget(QOH dest, const ObjGenMap<int>& pageIndex, size_t pageCount);

// A source's explicit destination made to show `page` of `to`, its view kept.
QOH CopiedDest(QPDF& to, QOH page, QOH sourceDest);

} // namespace engine
