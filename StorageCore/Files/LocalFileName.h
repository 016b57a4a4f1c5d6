#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace tw {

/// Names that come from elsewhere (a remote item's name, an archive member's path) turned into
/// names of files on this computer, and the check of a path a save panel answers with. A name
/// from elsewhere is never a local path as it stands.
namespace LocalFileName {

/// The most bytes of UTF-8 a file name may take.
inline constexpr qsizetype maxBytes = 255;

/// The longest start of `name` whose UTF-8 form fits in maxBytes, cut between characters
/// (never inside a surrogate pair).
QString cutToLimit(const QString& name, qsizetype limit = maxBytes);

/// One path component made fit for a local name: control, format and line or paragraph
/// separator characters, lone surrogates and both separators ("/", "\") dropped, surrounding
/// spaces trimmed (before and after the byte cut, so a cut never ends on a space), a leading
/// "~" written as "_" (no panel or shell takes it for a home folder). Empty when nothing is
/// left or only dots are ("." and ".." name folders, not files).
QString cleanComponent(const QString& component);

/// The name to propose for a file called `name` elsewhere: its last path component (either
/// separator) cleaned as by cleanComponent, "Untitled" when nothing is left. A suffix (an
/// extension the copy gets, ".pdf") is appended whole; the name before it is cut so that both
/// fit in maxBytes.
QString safe(const QString& name, const QString& suffix = QString());

/// True for a name a regular file can have in a folder: not empty, not "." or "..", without
/// "/", NUL or other control characters, at most maxBytes of UTF-8.
bool isPlainName(const QString& name);

/// The local path of a save panel's answer when it names a regular file inside an existing
/// folder: an absolute, clean path (no "." or ".." components, no trailing "/") whose last
/// component is a plain name, whose folder exists, and that is not a directory, a symbolic
/// link or another kind of special file already. None otherwise.
std::optional<QString> saveTarget(const QUrl& answer);

} // namespace LocalFileName

} // namespace tw
