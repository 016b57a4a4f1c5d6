#include "StorageCore/Files/LocalFileName.h"

#include <QDir>
#include <QFileInfo>

namespace tw::LocalFileName {

namespace {

qsizetype utf8Length(char32_t c) {
    return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

bool isSeparator(QChar c) {
    return c == QLatin1Char('/') || c == QLatin1Char('\\');
}

/// Characters never kept in a name: they are invisible, reorder what is shown (a right-to-left
/// override makes "txt.exe" read as "exe.txt") or break lines.
bool isDropped(char32_t c) {
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

bool onlyDots(const QString& name) {
    for (QChar c : name) {
        if (c != QLatin1Char('.'))
            return false;
    }
    return true;
}

} // namespace

QString cutToLimit(const QString& name, qsizetype limit) {
    qsizetype bytes = 0;
    qsizetype i = 0;
    while (i < name.size()) {
        const char16_t unit = name.at(i).unicode();
        const bool pair = QChar::isHighSurrogate(unit) && i + 1 < name.size() &&
                          QChar::isLowSurrogate(name.at(i + 1).unicode());
        const char32_t c =
            pair ? QChar::surrogateToUcs4(unit, name.at(i + 1).unicode()) : char32_t(unit);
        const qsizetype length = utf8Length(c);
        if (bytes + length > limit)
            break;
        bytes += length;
        i += pair ? 2 : 1;
    }
    return name.left(i);
}

QString cleanComponent(const QString& component) {
    QString out;
    out.reserve(component.size());
    for (qsizetype i = 0; i < component.size(); ++i) {
        const QChar unit = component.at(i);
        if (unit.isHighSurrogate() && i + 1 < component.size() &&
            component.at(i + 1).isLowSurrogate()) {
            const char32_t c = QChar::surrogateToUcs4(unit, component.at(i + 1));
            if (!isDropped(c))
                out.append(unit).append(component.at(i + 1));
            ++i;
            continue;
        }
        // A lone surrogate has no UTF-8 form: it is dropped with the rest.
        if (isSeparator(unit) || isDropped(unit.unicode()))
            continue;
        out.append(unit);
    }
    out = out.trimmed();
    if (out.startsWith(QLatin1Char('~')))
        out[0] = QLatin1Char('_');
    // Cut first, then trim: a cut can end the name on a space.
    out = cutToLimit(out).trimmed();
    return onlyDots(out) ? QString() : out;
}

QString safe(const QString& name, const QString& suffix) {
    QString last = name;
    qsizetype end = last.size();
    while (end > 0 && isSeparator(last.at(end - 1)))
        --end;
    qsizetype start = end;
    while (start > 0 && !isSeparator(last.at(start - 1)))
        --start;
    last = last.mid(start, end - start);
    QString clean = cleanComponent(last);
    if (clean.isEmpty())
        clean = QStringLiteral("Untitled");
    if (suffix.isEmpty())
        return clean;
    const qsizetype room = maxBytes - suffix.toUtf8().size();
    QString stem = cutToLimit(clean, std::max<qsizetype>(room, 0)).trimmed();
    if (stem.isEmpty() || onlyDots(stem))
        stem = QStringLiteral("Untitled");
    return stem + suffix;
}

bool isPlainName(const QString& name) {
    if (name.isEmpty() || name == QStringLiteral(".") || name == QStringLiteral(".."))
        return false;
    for (QChar c : name) {
        if (c == QLatin1Char('/') || c.category() == QChar::Other_Control)
            return false;
    }
    return cutToLimit(name) == name;
}

std::optional<QString> saveTarget(const QUrl& answer) {
    if (!answer.isValid() || !answer.isLocalFile())
        return std::nullopt;
    const QString path = answer.toLocalFile();
    if (!QDir::isAbsolutePath(path) || QDir::cleanPath(path) != path)
        return std::nullopt;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString name = path.mid(slash + 1);
    if (!isPlainName(name))
        return std::nullopt;
    const QString folder = slash == 0 ? QStringLiteral("/") : path.left(slash);
    if (!QFileInfo(folder).isDir())
        return std::nullopt;
    const QFileInfo target(path);
    if (target.isSymLink() || (target.exists() && !target.isFile()))
        return std::nullopt;
    return path;
}

} // namespace tw::LocalFileName
