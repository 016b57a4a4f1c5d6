#pragma once

#include "StorageCore/Domain/ProviderKind.h"

#include <QColor>

namespace tw::DS {

/// Failures shown inline (a failed upload, a refused answer).
QColor failureColor();
/// The colour of a service's avatar.
QColor serviceColor(ProviderKind kind);

namespace AccountPalette {
/// The eight account colours: blue, orange, green, purple, teal, pink, indigo, brown.
const QList<QColor>& colors();
/// The colour of an account colour index (taken modulo 8).
QColor color(int index);
} // namespace AccountPalette

} // namespace tw::DS
