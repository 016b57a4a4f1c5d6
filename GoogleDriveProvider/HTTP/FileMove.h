#pragma once

#include <QString>

namespace tw {

/// Moves the file at `source` to `destination`, replacing a file already there. Within one
/// file system this is one rename; across file systems the file is copied to a private
/// temporary file beside the destination, which is then renamed over it (so the destination
/// is never seen half written) and the source removed. Returns false, leaving the
/// destination as it was, when the move cannot be done; `source` is then left in place.
bool moveFileReplacing(const QString& source, const QString& destination);

/// Gives a finished file the mode a newly created file of the user gets (0666 less the
/// process's umask), for copies that were written privately (0600) while incomplete.
void applyDefaultFileMode(const QString& path);

} // namespace tw
