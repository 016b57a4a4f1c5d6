#pragma once

#include "StorageCore/Transfers/UploadCandidate.h"
#include "StorageCore/Transfers/UploadHistory.h"
#include "StorageCore/Transfers/UploadRule.h"

#include <optional>

namespace tw {

/// The outcome of one destination decision.
struct UploadSuggestion {
    /// Why the destination was chosen, in the order the decision looks.
    struct Reason {
        enum class Kind { rule, usual, mostSpace, noStorageFits };
        Kind kind = Kind::noStorageFits;
        std::optional<UploadRule> rule; // rule only
        qint64 count = 0;               // usual only: uploads of this kind that went there

        static Reason fromRule(const UploadRule& rule) { return {Kind::rule, rule, 0}; }
        static Reason usual(qint64 count) { return {Kind::usual, std::nullopt, count}; }
        static Reason mostSpace() { return {Kind::mostSpace, std::nullopt, 0}; }
        static Reason noStorageFits() { return {Kind::noStorageFits, std::nullopt, 0}; }
        bool operator==(const Reason&) const = default;
    };

    std::optional<UploadTarget> target; // absent when nothing fits
    Reason reason;

    bool operator==(const UploadSuggestion&) const = default;
};

/// Decides where one local file should go: the first enabled matching rule (extension rules
/// before category rules) whose account can take it, else the usual destination of files
/// like it, else the root of the account with the most free space, else nothing. A target
/// always names a candidate that can take the file. Pure: reads only its arguments.
namespace UploadRouter {
/// `storages` holds each account once (the account list); should an account appear twice,
/// its first candidate decides whether it fits.
UploadSuggestion suggest(const LocalFile& file, const QList<UploadRule>& rules,
                         const UploadHistory& history, const QList<UploadCandidate>& storages);
} // namespace UploadRouter

} // namespace tw
