#pragma once

#include <QString>

namespace tw {

/// A folder of our own in the system's temporary directory, made with mode 0700 under a
/// unique name ("<prefix>-XXXXXX"), so no other user can pre-create, read or redirect it.
/// It lives until the process exits and is removed then. Throws StoreError when it cannot be
/// made. Used by the start-up fallbacks of the document store and the preview cache.
QString makePrivateTemporaryFolder(const QString& prefix);

} // namespace tw
