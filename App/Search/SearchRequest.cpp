#include "App/Search/SearchRequest.h"

#include "App/Model/AppModel.h"
#include "StorageCore/Accounts/AccountManager.h"

#include <QHashFunctions>
#include <QSet>

namespace tw {

size_t qHash(const SearchRequest& request, size_t seed) noexcept {
    QtPrivate::QHashCombine combine;
    seed = combine(seed, request.text);
    for (const QUuid& id : request.accounts)
        seed = combine(seed, id);
    return seed;
}

QList<SearchScope> availableSearchScopes(const QList<StorageAccount>& accounts) {
    QSet<ProviderKind> kinds;
    for (const StorageAccount& account : accounts)
        kinds.insert(account.provider);
    if (kinds.size() < 2)
        return {};
    return SearchScopes::allCases();
}

QList<SearchScope> availableSearchScopes(const AppModel& model) {
    return availableSearchScopes(model.accounts()->accounts());
}

QList<QUuid> searchAccountIDs(const QList<StorageAccount>& accounts, SearchScope scope) {
    const std::optional<ProviderKind> kind = SearchScopes::providerKind(scope);
    QList<QUuid> ids;
    for (const StorageAccount& account : accounts) {
        if (account.status == StorageAccount::Status::connected &&
            (!kind || account.provider == *kind))
            ids.append(account.id);
    }
    return ids;
}

QList<QUuid> searchAccountIDs(const AppModel& model) {
    return searchAccountIDs(model.accounts()->accounts(), model.searchScope());
}

bool isSearching(const QString& searchText) {
    // trimmed() drops white space and line breaks from both ends.
    return !searchText.trimmed().isEmpty();
}

bool isSearching(const AppModel& model) {
    return isSearching(model.searchText());
}

SearchRequest searchRequest(const AppModel& model) {
    return {model.searchText(), searchAccountIDs(model)};
}

} // namespace tw
