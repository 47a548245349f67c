#pragma once

#include <QByteArray>
#include <QStringList>

#include <optional>

namespace ui {

// A hand-over from a later start to the window: a 32-bit big-endian length, then the paths as
// QDataStream (Qt 6.0) writes a QStringList.
QByteArray EncodeHandOver(const QStringList& paths);

// A message's body read back with every count and length checked against the bytes there are;
// nullopt for anything else. Reading never takes more memory than the body's own size.
std::optional<QStringList> DecodeHandOver(const QByteArray& body);

} // namespace ui
