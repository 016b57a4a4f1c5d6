#include "StorageCore/Transfers/UploadRouter.h"

#include <QHash>

#include <algorithm>

namespace tw::UploadRouter {

namespace {

/// The first entry with the highest count among those whose account fits: the same entry a
/// stable sort by count followed by a walk would give, in one pass.
const UploadHistory::Entry* bestFitting(const QList<UploadHistory::Entry>& entries,
                                        const QHash<QUuid, bool>& fits) {
    const UploadHistory::Entry* best = nullptr;
    for (const UploadHistory::Entry& entry : entries)
        if ((!best || entry.count > best->count) && fits.value(entry.target.accountID, false))
            best = &entry;
    return best;
}

} // namespace

UploadSuggestion suggest(const LocalFile& file, const QList<UploadRule>& rules,
                         const UploadHistory& history, const QList<UploadCandidate>& storages) {
    // 1. Which accounts can take the file.
    QHash<QUuid, bool> fits;
    fits.reserve(storages.size());
    for (const UploadCandidate& candidate : storages)
        if (!fits.contains(candidate.accountID))
            fits.insert(candidate.accountID, candidate.fits(file));

    const QString extension = LocalFiles::normalizedExtension(file);
    const std::optional<FileCategory> category = LocalFiles::category(file);

    // 2. Enabled matching rules, extension rules before category rules, user order within.
    for (const auto kind :
         {UploadRule::Match::Kind::fileExtension, UploadRule::Match::Kind::category}) {
        for (const UploadRule& rule : rules) {
            if (!rule.isEnabled || rule.match.kind() != kind ||
                !rule.match.matches(extension, category))
                continue;
            if (fits.value(rule.target.accountID, false))
                return {rule.target, UploadSuggestion::Reason::fromRule(rule)};
        }
    }

    // 3. Where files like this one went: the extension key's entries before the category's.
    for (const QString& key : UploadHistory::keys(file)) {
        const auto found = history.byKey.constFind(key);
        if (found == history.byKey.cend())
            continue;
        if (const UploadHistory::Entry* entry = bestFitting(*found, fits))
            return {entry->target, UploadSuggestion::Reason::usual(entry->count)};
    }

    // 4. Most free space: accounts with a quota first, then larger free space (unknown
    // counts as 0); ties keep the account order.
    const UploadCandidate* best = nullptr;
    for (const UploadCandidate& candidate : storages) {
        if (!candidate.fits(file))
            continue;
        if (!best) {
            best = &candidate;
            continue;
        }
        if (candidate.hasQuota != best->hasQuota) {
            if (candidate.hasQuota)
                best = &candidate;
            continue;
        }
        if (candidate.availableBytes.value_or(0) > best->availableBytes.value_or(0))
            best = &candidate;
    }
    if (best)
        return {UploadTarget{best->accountID, std::nullopt, {}},
                UploadSuggestion::Reason::mostSpace()};

    // 5. Nothing can take it.
    return {std::nullopt, UploadSuggestion::Reason::noStorageFits()};
}

} // namespace tw::UploadRouter
