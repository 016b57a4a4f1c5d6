#include "App/Model/ModelTypes.h"

namespace tw {

const QList<SearchScope>& SearchScopes::allCases() {
    static const QList<SearchScope> cases{SearchScope::all, SearchScope::googleDrive,
                                          SearchScope::telegram};
    return cases;
}

QString SearchScopes::rawValue(SearchScope scope) {
    switch (scope) {
    case SearchScope::all:
        return QStringLiteral("all");
    case SearchScope::googleDrive:
        return QStringLiteral("googleDrive");
    case SearchScope::telegram:
        return QStringLiteral("telegram");
    }
    return {};
}

QString SearchScopes::title(SearchScope scope) {
    switch (scope) {
    case SearchScope::all:
        return QStringLiteral("All Accounts");
    case SearchScope::googleDrive:
        return QStringLiteral("Google Drive");
    case SearchScope::telegram:
        return QStringLiteral("Telegram");
    }
    return {};
}

std::optional<ProviderKind> SearchScopes::providerKind(SearchScope scope) {
    switch (scope) {
    case SearchScope::all:
        return std::nullopt;
    case SearchScope::googleDrive:
        return ProviderKind::googleDrive;
    case SearchScope::telegram:
        return ProviderKind::telegram;
    }
    return std::nullopt;
}

QString UploadToast::message() const {
    if (count == 1)
        return QStringLiteral("Saved to ") + destination;
    return QStringLiteral("Saved ") + QString::number(count) + QStringLiteral(" files to ") + destination;
}

} // namespace tw
