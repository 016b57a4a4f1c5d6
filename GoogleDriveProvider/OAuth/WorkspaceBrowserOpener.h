#pragma once

#include "GoogleDriveProvider/OAuth/GoogleAuthenticator.h"

namespace tw {

/// Opens URLs in the user's default browser through the desktop services of the platform, on
/// the main thread (a call from a task's worker thread is handed over the way task results are,
/// and waits for the main thread's answer). Only
/// http and https URLs are opened; anything else answers false.
class WorkspaceBrowserOpener : public BrowserOpener {
public:
    bool open(const QUrl& url) override;
};

} // namespace tw
