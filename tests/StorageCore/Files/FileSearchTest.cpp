#include "StorageCore/Files/FileSearch.h"

#include "tests/StorageCore/Files/FileItems.h"
#include "tests/StorageCore/Files/HeldProvider.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace tw;
using namespace tw::test;
using Code = StorageError::Code;
using Op = FakeStorageProvider::Op;
using Phase = FileSearch::Phase;

namespace {

/// A back end whose search returns a fixed answer per account, whatever the query, so that
/// the model's own word rule decides; failures are scripted per account.
class ScriptedSearchProvider : public HeldProvider {
public:
    Page search(const QUuid& accountID, const QString& query,
                const std::optional<QString>& pageToken) override {
        HeldProvider::search(accountID, query, pageToken); // log, holds, scripted failures
        const auto failure = failures.constFind(accountID);
        if (failure != failures.cend())
            throw *failure;
        return Page{answers.value(accountID), QStringLiteral("ignored")};
    }
    // Set before use, read-only afterwards.
    QHash<QUuid, QList<FileItem>> answers;
    QHash<QUuid, StorageError> failures;
};

class FileSearchTest : public ::testing::Test {
protected:
    static void searchAndWait(FileSearch& search, const QString& text,
                              const QList<QUuid>& accounts) {
        search.search(text, accounts);
        ASSERT_TRUE(QTest::qWaitFor([&] { return search.phase() != Phase::searching; }, 5000));
    }

    QUuid a = QUuid::createUuid(), b = QUuid::createUuid();
    std::shared_ptr<ScriptedSearchProvider> provider = std::make_shared<ScriptedSearchProvider>();
    FileSearch search{provider};
};

} // namespace

TEST(FileSearchWordRule, EveryWordMustOccurIgnoringCaseAndDiacritics) {
    struct Case {
        const char* name;
        const char* query;
        bool matches;
    };
    const Case cases[] = {
        {"2023 Tax Return.pdf", "tax 2023", true},
        {"Tax 2022.pdf", "tax 2023", false},
        {"Résumé.docx", "resume", true},
        {"resume.docx", "RÉSUMÉ", true},
        {"Photo.JPG", "  photo\t\n jpg ", true},
        {"anything", "   ", false},
        {"anything", "", false},
        {"Ärger.txt", "ärg", true},
        {"straße.txt", "strasse", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FileSearch::matches(QString::fromUtf8(c.name), QString::fromUtf8(c.query)),
                  c.matches)
            << c.name << " / " << c.query;
}

TEST_F(FileSearchTest, BlankTextClearsWithoutAskingAnyone) {
    provider->answers.insert(a, {fileItem(a, "1", "x")});
    searchAndWait(search, "x", {a});
    ASSERT_EQ(search.results().size(), 1);
    search.search(QStringLiteral(" \n "), {a});
    EXPECT_TRUE(search.results().isEmpty());
    EXPECT_EQ(search.phase(), Phase::idle);
    EXPECT_EQ(search.query(), QString());
    EXPECT_EQ(provider->callCount(Op::search), 1);
    search.search(QStringLiteral("x"), {});
    EXPECT_EQ(search.phase(), Phase::idle);
    EXPECT_EQ(provider->callCount(Op::search), 1);
}

TEST_F(FileSearchTest, MergesFiltersDeduplicatesAndRanks) {
    provider->answers.insert(a, {fileItem(a, "1", "report 3", std::nullopt, 3),
                                 folderItem(a, "f", "report folder"),
                                 fileItem(a, "u10", "report u10"), fileItem(a, "2", "other", {}, 9),
                                 fileItem(a, "1", "report 3", std::nullopt, 3)});
    provider->answers.insert(b, {fileItem(b, "1", "Report 9", std::nullopt, 9),
                                 fileItem(b, "u2", "report u2"),
                                 fileItem(b, "3", "report 3b", std::nullopt, 3)});
    searchAndWait(search, QStringLiteral("  report "), {a, b});
    EXPECT_EQ(search.query(), QStringLiteral("report"));
    EXPECT_EQ(search.phase(), Phase::done);
    EXPECT_EQ(namesOf(search.results()),
              (QStringList{"Report 9", "report 3", "report 3b", "report u2", "report u10"}));
    EXPECT_TRUE(search.errors().isEmpty());
}

TEST_F(FileSearchTest, FailingAccountKeepsItsErrorApartAndCancellationIsNotShown) {
    const QUuid c = QUuid::createUuid();
    provider->failures.insert(a, StorageError(Code::network));
    provider->failures.insert(c, StorageError(Code::cancelled));
    provider->answers.insert(b, {fileItem(b, "1", "match")});
    searchAndWait(search, "match", {a, b, c});
    EXPECT_EQ(namesOf(search.results()), QStringList{"match"});
    ASSERT_EQ(search.errors().size(), 1);
    EXPECT_EQ(*search.errors().constFind(a), StorageError(Code::network));
    EXPECT_EQ(search.phase(), Phase::done);
    EXPECT_EQ(search.accountIDs(), (QList<QUuid>{a, b, c}));

    search.search(QStringLiteral(""), {a});
    EXPECT_TRUE(search.errors().isEmpty()); // emptied by every search
}

TEST_F(FileSearchTest, OnlyTheNewestSearchIsShownWhicheverFinishesLast) {
    provider->answers.insert(a, {fileItem(a, "1", "old"), fileItem(a, "2", "new")});
    for (const bool olderFails : {false, true}) {
        for (const bool olderFinishesLast : {true, false}) {
            search.clear();
            auto hold = provider->holdNext(
                Op::search, olderFails ? std::optional(StorageError(Code::server)) : std::nullopt);
            search.search(QStringLiteral("old"), {a});
            ASSERT_TRUE(hold->waitEntered());
            if (olderFinishesLast) {
                searchAndWait(search, QStringLiteral("new"), {a});
                hold->release();
            } else {
                auto newer = provider->holdNext(Op::search);
                search.search(QStringLiteral("new"), {a});
                ASSERT_TRUE(newer->waitEntered());
                hold->release();
                settleTasks(1); // the newer search stays held
                EXPECT_EQ(search.phase(), Phase::searching);
                newer->release();
            }
            settleTasks();
            EXPECT_EQ(namesOf(search.results()), QStringList{"new"}) << olderFinishesLast;
            EXPECT_EQ(search.query(), QStringLiteral("new"));
            EXPECT_EQ(search.phase(), Phase::done);
            EXPECT_TRUE(search.errors().isEmpty()) << olderFails;
        }
    }
}

TEST_F(FileSearchTest, ASearchStartedWhileAnswersAreMergedDropsThatMerge) {
    provider->answers.insert(a, {fileItem(a, "1", "old"), fileItem(a, "2", "new")});
    search.search(QStringLiteral("old"), {a});
    // Once the worker is done its answer is queued; handling it starts the merge on a worker,
    // and the search stays searching until the merge is applied.
    ASSERT_TRUE(threadPool(TaskPool::general)->waitForDone(5000));
    QCoreApplication::processEvents();
    QSignalSpy results(&search, &FileSearch::resultsChanged);
    searchAndWait(search, QStringLiteral("new"), {a});
    settleTasks();
    EXPECT_EQ(namesOf(search.results()), QStringList{"new"});
    EXPECT_EQ(results.count(), 1);
    EXPECT_EQ(search.phase(), Phase::done);
}

TEST_F(FileSearchTest, ClearMakesARunningSearchDropItsAnswers) {
    provider->answers.insert(a, {fileItem(a, "1", "hit")});
    auto hold = provider->holdNext(Op::search);
    search.search(QStringLiteral("hit"), {a});
    ASSERT_TRUE(hold->waitEntered());
    QSignalSpy generation(&search, &FileSearch::generationChanged);
    search.clear();
    EXPECT_EQ(generation.count(), 1);
    EXPECT_EQ(search.phase(), Phase::idle);
    hold->release();
    settleTasks();
    EXPECT_TRUE(search.results().isEmpty());
    EXPECT_EQ(search.phase(), Phase::idle);
    EXPECT_EQ(search.accountIDs(), QList<QUuid>{a}); // kept by clear
}

TEST_F(FileSearchTest, RemoveDropsOnlyThatRef) {
    provider->answers.insert(a, {fileItem(a, "1", "hit one"), fileItem(a, "2", "hit two")});
    searchAndWait(search, "hit", {a});
    QSignalSpy results(&search, &FileSearch::resultsChanged);
    search.remove(FileRef{a, "absent"});
    EXPECT_EQ(results.count(), 0);
    search.remove(FileRef{a, "1"});
    EXPECT_EQ(namesOf(search.results()), QStringList{"hit two"});
    EXPECT_EQ(results.count(), 1);
}

TEST(FileSearchCombine, AnswersAreMergedInArrivalOrderBeforeRanking) {
    const QUuid a = QUuid::createUuid();
    NaturalOrder order;
    // The same ref in two answers: the one that arrived first is kept.
    const FileItem first = fileItem(a, "x", "doc first", std::nullopt, 2);
    const FileItem second = fileItem(a, "x", "doc second", std::nullopt, 8);
    EXPECT_EQ(namesOf(FileSearch::combine({{first}, {second}}, "doc", order)),
              QStringList{"doc first"});
    EXPECT_EQ(namesOf(FileSearch::combine({{second}, {first}}, "doc", order)),
              QStringList{"doc second"});
    // Equal dates and equal names keep their arrival order.
    const FileItem p = fileItem(a, "p", "same", std::nullopt, 4);
    const FileItem q = fileItem(QUuid::createUuid(), "q", "same", std::nullopt, 4);
    const auto ranked = FileSearch::combine({{q}, {p}}, "same", order);
    ASSERT_EQ(ranked.size(), 2);
    EXPECT_EQ(ranked[0].ref, q.ref);
}
