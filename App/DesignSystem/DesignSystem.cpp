#include "App/DesignSystem/DesignSystem.h"

namespace tw::DS {

QColor failureColor() { return QColor(0xE6, 0x7E, 0x22); }

QColor serviceColor(ProviderKind kind) {
    return kind == ProviderKind::telegram ? QColor::fromRgbF(0.16f, 0.63f, 0.85f)
                                          : QColor::fromRgbF(0.26f, 0.52f, 0.96f);
}

const QList<QColor>& AccountPalette::colors() {
    static const QList<QColor> palette{
        QColor(0x00, 0x7A, 0xFF), QColor(0xFF, 0x95, 0x00), QColor(0x34, 0xC7, 0x59),
        QColor(0xAF, 0x52, 0xDE), QColor(0x30, 0xB0, 0xC7), QColor(0xFF, 0x2D, 0x55),
        QColor(0x58, 0x56, 0xD6), QColor(0xA2, 0x84, 0x5E)};
    return palette;
}

QColor AccountPalette::color(int index) { return colors().at(((index % 8) + 8) % 8); }

} // namespace tw::DS
