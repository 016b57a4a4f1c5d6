#pragma once

// Shared by the fuzz targets: a broken promise of the code under test stops the run with a
// message, like a sanitiser report, so libFuzzer keeps the input that caused it.

#include <QByteArray>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <optional>

#define FUZZ_CHECK(condition)                                                                 \
    do {                                                                                      \
        if (!(condition)) {                                                                   \
            std::fprintf(stderr, "%s:%d: broken promise: %s\n", __FILE__, __LINE__,           \
                         #condition);                                                         \
            std::abort();                                                                     \
        }                                                                                     \
    } while (false)

namespace tw::fuzz {

inline QByteArray bytes(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

/// True when the text is one plain file-name component: not empty, no separator, no control
/// character, no blank at either end, not made only of dots.
inline bool isPlainName(const QString& name) {
    if (name.isEmpty() || name != name.trimmed())
        return false;
    bool onlyDots = true;
    for (QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || c == QLatin1Char('/') ||
            c == QLatin1Char('\\'))
            return false;
        onlyDots = onlyDots && c == QLatin1Char('.');
    }
    return !onlyDots;
}

/// A signed 64-bit decimal as its grammar reads: an optional "+" or "-", then one or more of
/// the digits 0-9 and nothing else, within the range of qint64.
inline std::optional<qint64> referenceDecimal(const QString& text) {
    qsizetype at = 0;
    bool negative = false;
    if (at < text.size() && (text[at] == QLatin1Char('+') || text[at] == QLatin1Char('-')))
        negative = text[at++] == QLatin1Char('-');
    if (at == text.size())
        return std::nullopt;
    quint64 magnitude = 0;
    const quint64 limit = negative ? quint64(1) << 63 : (quint64(1) << 63) - 1;
    for (; at < text.size(); ++at) {
        const char16_t c = text[at].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const unsigned digit = unsigned(c - u'0');
        if (magnitude > (limit - digit) / 10)
            return std::nullopt;
        magnitude = magnitude * 10 + digit;
    }
    return negative ? qint64(0 - magnitude) : qint64(magnitude);
}

} // namespace tw::fuzz
