#include "StorageCore/Transfers/UploadRouter.h"

#include <gtest/gtest.h>

using namespace tw;
using Match = UploadRule::Match;
using Reason = UploadSuggestion::Reason;

namespace {

const QUuid A = QUuid::createUuid(), B = QUuid::createUuid(), X = QUuid::createUuid(),
            Y = QUuid::createUuid(), T = QUuid::createUuid();

LocalFile pdf(qint64 size = 5) {
    return LocalFile{QUrl::fromLocalFile("/tmp/r.pdf"), "r.pdf", size, "application/pdf"};
}

UploadCandidate drive(const QUuid& id, std::optional<qint64> free = std::nullopt,
                      bool connected = true) {
    return UploadCandidate{id, connected, free, std::nullopt, true};
}
UploadCandidate telegram(const QUuid& id) {
    return UploadCandidate{id, true, std::nullopt, 2'000'000'000, false};
}
UploadRule rule(const Match& match, const QUuid& account, bool enabled = true) {
    return UploadRule{QUuid::createUuid(), match, UploadTarget{account, "folder", {"F"}}, enabled};
}
UploadTarget root(const QUuid& id) {
    return UploadTarget{id, std::nullopt, {}};
}

} // namespace

TEST(UploadRouter, ExtensionRulesWinOverCategoryRulesThenUserOrder) {
    const UploadRule byCategory = rule(Match::category(FileCategory::documents), A);
    const UploadRule byExtension = rule(Match::fileExtension("pdf"), B);
    auto s = UploadRouter::suggest(pdf(), {byCategory, byExtension}, {}, {drive(A), drive(B)});
    EXPECT_EQ(s.reason, Reason::fromRule(byExtension));
    EXPECT_EQ(s.target, byExtension.target);

    const UploadRule first = rule(Match::fileExtension("pdf"), A);
    const UploadRule second = rule(Match::fileExtension("PDF"), B);
    s = UploadRouter::suggest(pdf(), {first, second}, {}, {drive(A), drive(B)});
    EXPECT_EQ(s.reason, Reason::fromRule(first));
}

TEST(UploadRouter, RulesThatCannotApplyArePassedOver) {
    UploadHistory history;
    history.byKey.insert("ext:pdf", {{UploadTarget{B, "h", {"H"}}, 3}});
    const QList<UploadCandidate> storages{drive(A, std::nullopt, /*connected*/ false), drive(B)};
    const struct {
        const char* what;
        QList<UploadRule> rules;
    } cases[] = {
        {"account needs sign-in", {rule(Match::fileExtension("pdf"), A)}},
        {"disabled", {rule(Match::fileExtension("pdf"), B, false)}},
        {"account removed", {rule(Match::fileExtension("pdf"), QUuid::createUuid())}},
        {"other files", {rule(Match::fileExtension("zip"), B)}},
    };
    for (const auto& c : cases) {
        const auto s = UploadRouter::suggest(pdf(), c.rules, history, storages);
        EXPECT_EQ(s.reason, Reason::usual(3)) << c.what;
        EXPECT_EQ(s.target, (UploadTarget{B, "h", {"H"}})) << c.what;
    }
}

TEST(UploadRouter, HistoryPrefersExtensionEntriesThenCountThenFirstRecorded) {
    UploadHistory history;
    history.byKey.insert("ext:pdf", {{root(A), 1}});
    history.byKey.insert("type:documents", {{root(B), 5}});
    auto s = UploadRouter::suggest(pdf(), {}, history, {drive(A), drive(B)});
    EXPECT_EQ(s, (UploadSuggestion{root(A), Reason::usual(1)}));

    history.byKey.insert("ext:pdf", {{root(A), 2}, {root(B), 2}});
    s = UploadRouter::suggest(pdf(), {}, history, {drive(B), drive(A)});
    EXPECT_EQ(s.target, root(A));

    // An entry whose account cannot take the file is skipped.
    s = UploadRouter::suggest(pdf(), {}, history, {drive(B)});
    EXPECT_EQ(s, (UploadSuggestion{root(B), Reason::usual(2)}));
}

TEST(UploadRouter, MostSpacePrefersQuotaThenFreeBytesThenListOrder) {
    const QList<UploadCandidate> storages{drive(X, 10), drive(Y), telegram(T)};
    EXPECT_EQ(UploadRouter::suggest(pdf(5), {}, {}, storages),
              (UploadSuggestion{root(X), Reason::mostSpace()}));
    EXPECT_EQ(UploadRouter::suggest(pdf(20), {}, {}, storages).target, root(Y));
    EXPECT_EQ(UploadRouter::suggest(pdf(20), {}, {}, {telegram(T), drive(X, 10)}).target, root(T));
    EXPECT_EQ(UploadRouter::suggest(pdf(1), {}, {}, {drive(X, 7), drive(Y, 7)}).target, root(X));
    EXPECT_EQ(UploadRouter::suggest(pdf(1), {}, {}, {drive(Y), drive(X, 7)}).target, root(X));
}

TEST(UploadRouter, NothingFits) {
    EXPECT_EQ(UploadRouter::suggest(pdf(3'000'000'000), {}, {}, {telegram(T)}),
              (UploadSuggestion{std::nullopt, Reason::noStorageFits()}));
    EXPECT_EQ(UploadRouter::suggest(pdf(), {rule(Match::fileExtension("pdf"), A)}, {}, {}),
              (UploadSuggestion{std::nullopt, Reason::noStorageFits()}));
}

TEST(UploadRouter, ReasonsComeInTheirOrder) {
    UploadHistory history;
    history.byKey.insert("ext:pdf", {{UploadTarget{B, "h", {}}, 4}});
    const UploadRule r = rule(Match::category(FileCategory::documents), A);
    const QList<UploadCandidate> storages{drive(A), drive(B)};
    EXPECT_EQ(UploadRouter::suggest(pdf(), {r}, history, storages).reason.kind, Reason::Kind::rule);
    EXPECT_EQ(UploadRouter::suggest(pdf(), {}, history, storages).reason.kind, Reason::Kind::usual);
    EXPECT_EQ(UploadRouter::suggest(pdf(), {}, {}, storages).reason.kind, Reason::Kind::mostSpace);
    EXPECT_EQ(UploadRouter::suggest(pdf(), {r}, history, {}).reason.kind,
              Reason::Kind::noStorageFits);
}
