#pragma once

#include <functional>
#include <memory>

class QString;

namespace tw {

class AppModel;
class BrowserOpener;
class Panels;
class SecretStore;

/// The application's object graph: the documents in the user's data folder (written behind on
/// a worker), the keyring vault and the one-time move of older keyring items into it, Google
/// Drive over the HTTP module, Telegram over TDLib, the preview cache and the desktop's file
/// dialogs and applications, all handed to one AppModel. Nothing here blocks on the keyring,
/// the network or TDLib: each is reached on a worker, on first use.
class AppComposition {
public:
    /// What the composition takes from outside instead of the desktop's own (null: the
    /// desktop's). The end-to-end test answers the browser sign-in and the file dialogs.
    struct Seams {
        /// Opens the Google sign-in page (default: the desktop's browser).
        std::shared_ptr<BrowserOpener> browser;
        /// The file dialogs and the application chooser (default: Qt's dialogs).
        std::shared_ptr<Panels> panels;
        /// The older per-account keyring items moved into the vault (default: the keyring).
        std::function<std::shared_ptr<SecretStore>(const QString& service)> legacyKeychain;
    };

    /// The start-up's background work: the move of older keyring items and the clean-ups
    /// (expired previews, orphaned Telegram sessions, partial downloads).
    enum class StartupTasks {
        /// The keyring move only, at once (the self-check, tests).
        skip,
        /// All of it, held until AppModel::releaseStartupWork() (the application, once its
        /// window's content is built). The back ends' keyring calls wait for the move.
        runWhenReleased,
    };

    /// The real application's model. Never fails: documents that have no folder fall back to
    /// a temporary one (or to none), previews likewise.
    static std::unique_ptr<AppModel> live(StartupTasks tasks, Seams seams = {});
};

} // namespace tw
