#pragma once

#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Domain/ProviderKind.h"
#include "StorageCore/Domain/StorageError.h"
#include "StorageCore/Transfers/UploadRouter.h"
#include "StorageCore/Transfers/UploadTarget.h"

#include <QString>
#include <QUuid>

#include <optional>

// The small values the application model hands to its screens.
namespace tw {

/// Which accounts the toolbar search covers.
enum class SearchScope { all, googleDrive, telegram };

namespace SearchScopes {
const QList<SearchScope>& allCases();
/// "all", "googleDrive", "telegram".
QString rawValue(SearchScope scope);
/// "All Accounts", "Google Drive", "Telegram".
QString title(SearchScope scope);
/// The kind of account the scope narrows the search to; none for all.
std::optional<ProviderKind> providerKind(SearchScope scope);
} // namespace SearchScopes

/// What the sidebar has selected: the home pane, the smart upload pane or one account.
struct SidebarItem {
    enum class Kind { storage, home, uploads };
    Kind kind = Kind::home;
    QUuid accountID; // storage only

    static SidebarItem home() { return {Kind::home, {}}; }
    static SidebarItem uploads() { return {Kind::uploads, {}}; }
    static SidebarItem storage(const QUuid& id) { return {Kind::storage, id}; }
    bool operator==(const SidebarItem&) const = default;
};

/// One folder of an account's path.
struct FolderCrumb {
    QString id;
    QString name;
    bool operator==(const FolderCrumb&) const = default;
};

/// Where an upload or a new folder goes, with its name as the user reads it.
struct UploadDestination {
    QUuid accountID;
    std::optional<QString> folderID; // none = the root
    QString displayName;
    bool operator==(const UploadDestination&) const = default;
};

/// The confirmation of finished uploads to one destination.
struct UploadToast {
    qint64 count = 1;
    QString destination;
    /// "Saved to Work" or "Saved 3 files to Work".
    QString message() const;
    bool operator==(const UploadToast&) const = default;
};

/// The error alert's content: which error, for which account or which kind of connection.
struct PresentedError {
    QUuid id;
    StorageError error;
    std::optional<QUuid> accountID;
    std::optional<ProviderKind> kind;
    static PresentedError make(StorageError error, std::optional<QUuid> accountID = std::nullopt,
                               std::optional<ProviderKind> kind = std::nullopt) {
        return {QUuid::createUuid(), std::move(error), accountID, kind};
    }
};

/// An informational alert.
struct Notice {
    QUuid id;
    QString title;
    QString message;
    static Notice make(QString title, QString message) {
        return {QUuid::createUuid(), std::move(title), std::move(message)};
    }
};

/// One file of the smart-upload batch with its destination (none: no account can take it).
struct SmartUploadItem {
    QUuid id;
    LocalFile file;
    std::optional<UploadTarget> target;
    UploadSuggestion::Reason reason;
    bool isManual = false;
    bool operator==(const SmartUploadItem&) const = default;
};

} // namespace tw
