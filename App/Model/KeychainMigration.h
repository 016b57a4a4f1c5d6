#pragma once

#include "StorageCore/Concurrency/Completion.h"
#include "StorageCore/Security/SecretStore.h"

#include <QString>

#include <functional>
#include <memory>
#include <variant>

namespace tw {

class KeychainVault;
class KeyValueStore;
class SettingsStore;

/// The one-time move of sign-ins that older versions kept as separate keyring items (one per
/// account, services "<bundle>.oauth" and "<bundle>.telegram") into the vault. The keyring is
/// reached over D-Bus and may be locked or slow, so the move runs on a worker and the window
/// never waits for it; the back ends' secret stores wait for it instead (gated()), so a
/// credential not yet moved is never taken for a missing one.
///
/// "keychainVaultMigrated" is set in the settings only when every item was settled (moved,
/// already in the vault, or absent): a locked or unreachable keyring, or a stored account
/// list that could not be read, leaves it unset and the next start tries again.
class KeychainMigration {
public:
    /// Opens the legacy items of one keyring service.
    using LegacyItems = std::function<std::shared_ptr<SecretStore>(const QString& service)>;

    /// Hands the move to a worker (the start-up's held work, say).
    using Launch = std::function<void(std::function<void()>)>;

    /// Starts the move unless the settings say it is done; returns at once. Reads the stored
    /// account list (on the calling thread: its keys name the items) before anything else
    /// reads it; sets the flag from the worker. The result is resolved when the move has
    /// ended (at once when there is nothing to do). `legacy` defaults to the keyring, `launch`
    /// to a worker of the task facility at once.
    static Completion<std::monostate> start(std::shared_ptr<KeychainVault> vault,
                                            std::shared_ptr<SettingsStore> defaults,
                                            KeyValueStore& documents, const QString& bundle,
                                            LegacyItems legacy = {}, Launch launch = {});

    /// `inner`, whose every call first waits for `migration` to end (on the caller's thread,
    /// honouring its task's cancellation).
    static std::shared_ptr<SecretStore> gated(std::shared_ptr<SecretStore> inner,
                                              Completion<std::monostate> migration);

    static inline const QString settingsKey = QStringLiteral("keychainVaultMigrated");
};

} // namespace tw
