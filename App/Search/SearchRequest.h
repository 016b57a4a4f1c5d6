#pragma once

#include "App/Model/ModelTypes.h"
#include "StorageCore/Domain/StorageAccount.h"

#include <QList>
#include <QString>
#include <QUuid>

namespace tw {

class AppModel;

/// What the toolbar search asks for: the field's text as typed and the accounts it covers, in
/// list order. A search runs again whenever either changes.
struct SearchRequest {
    QString text;
    QList<QUuid> accounts;
    bool operator==(const SearchRequest&) const = default;
};
size_t qHash(const SearchRequest& request, size_t seed = 0) noexcept;

/// The scopes the scope bar offers: all three once the accounts (whatever their status) are of
/// at least two kinds, else none (and no scope bar).
QList<SearchScope> availableSearchScopes(const QList<StorageAccount>& accounts);
QList<SearchScope> availableSearchScopes(const AppModel& model);

/// The accounts a search covers: the connected ones of the scope's kind, in list order.
QList<QUuid> searchAccountIDs(const QList<StorageAccount>& accounts, SearchScope scope);
QList<QUuid> searchAccountIDs(const AppModel& model);

/// True while the search field holds more than white space: the main window then shows the
/// results instead of its selection.
bool isSearching(const QString& searchText);
bool isSearching(const AppModel& model);

/// The model's current request.
SearchRequest searchRequest(const AppModel& model);

} // namespace tw
