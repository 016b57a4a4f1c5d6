#include "StorageCore/Files/CategoryListing.h"

#include "tests/StorageCore/Files/FileItems.h"
#include "tests/StorageCore/Files/HeldProvider.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace tw;
using namespace tw::test;
using Code = StorageError::Code;
using Op = FakeStorageProvider::Op;
using Phase = CategoryListing::Phase;

namespace {

/// Every page is empty but promises another.
class EndlessEmptyProvider : public HeldProvider {
public:
    Page listCategory(const QUuid& accountID, FileCategory category,
                      const std::optional<QString>& pageToken) override {
        HeldProvider::listCategory(accountID, category, std::nullopt); // for the log
        (void)pageToken;
        return Page{{}, QStringLiteral("again")};
    }
};

/// Fails every call of the listed accounts.
class AccountFailingProvider : public HeldProvider {
public:
    Page listCategory(const QUuid& accountID, FileCategory category,
                      const std::optional<QString>& pageToken) override {
        Page page = HeldProvider::listCategory(accountID, category, pageToken);
        const auto failure = failures.constFind(accountID);
        if (failure != failures.cend())
            throw *failure;
        return page;
    }
    QHash<QUuid, StorageError> failures; // set before use, read-only afterwards
};

class CategoryListingTest : public ::testing::Test {
protected:
    std::unique_ptr<CategoryListing> makeListing() {
        return std::make_unique<CategoryListing>(
            FileCategory::documents, provider, [this](const StorageError& e, const QUuid& account) {
                reported.append({e, account});
            });
    }
    static void loadAndWait(CategoryListing& listing, const QList<QUuid>& accounts) {
        QSignalSpy finished(&listing, &CategoryListing::loadFinished);
        listing.load(accounts);
        ASSERT_TRUE(QTest::qWaitFor([&] { return finished.count() > 0; }, 5000));
    }
    /// n dated documents of an account, newest first by day.
    void addDocuments(const QUuid& account, int n, const QString& prefix) {
        for (int i = 0; i < n; ++i)
            provider->addItem(fileItem(account, prefix + QString::number(i),
                                       prefix + QString::number(i) + ".txt", std::nullopt,
                                       1 + (i % 28)));
    }

    QUuid a = QUuid::createUuid(), b = QUuid::createUuid(), c = QUuid::createUuid();
    std::shared_ptr<HeldProvider> provider = std::make_shared<HeldProvider>();
    QList<QPair<StorageError, QUuid>> reported;
};

bool newestFirst(const QList<FileItem>& items) {
    for (qsizetype i = 1; i < items.size(); ++i)
        if (modificationKey(items[i - 1]) < modificationKey(items[i]))
            return false;
    return true;
}

} // namespace

TEST_F(CategoryListingTest, MergesAccountsNewestFirstAndFillsToTwenty) {
    provider->setPageSize(7);
    addDocuments(a, 30, "a");
    addDocuments(b, 10, "b");
    auto listing = makeListing();
    loadAndWait(*listing, {a, b});
    // first pages 7 + 7, one fill batch brings 7 + 3: 24 items
    EXPECT_EQ(listing->items().size(), 24);
    EXPECT_TRUE(newestFirst(listing->items()));
    EXPECT_EQ(provider->callCount(Op::listCategory), 4);
    EXPECT_EQ(listing->tokens().keys(), QList<QUuid>{a});
    EXPECT_EQ(listing->phase(), Phase::loaded);
    EXPECT_FALSE(listing->isLoadingMore());
}

TEST_F(CategoryListingTest, AFullFirstPageMakesNoFillCall) {
    provider->setPageSize(25);
    addDocuments(a, 40, "a");
    auto listing = makeListing();
    loadAndWait(*listing, {a});
    EXPECT_EQ(provider->callCount(Op::listCategory), 1);
    EXPECT_TRUE(listing->hasMore());
    EXPECT_TRUE(listing->loadMore());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !listing->isLoadingMore(); }));
    EXPECT_EQ(listing->items().size(), 40);
}

TEST_F(CategoryListingTest, EmptyPagesWithTokensStopAfterFiveFillBatches) {
    provider = std::make_shared<EndlessEmptyProvider>();
    auto listing = makeListing();
    loadAndWait(*listing, {a, b});
    settleTasks();
    EXPECT_EQ(provider->callCount(Op::listCategory), 2 + 5 * 2);
    EXPECT_TRUE(listing->hasMore());
    EXPECT_FALSE(listing->isLoadingMore());
}

TEST_F(CategoryListingTest, FailingAccountsAreKeptApartAndCancellationIsSilent) {
    auto failing = std::make_shared<AccountFailingProvider>();
    failing->failures.insert(b, StorageError(Code::offline));
    failing->failures.insert(c, StorageError(Code::cancelled));
    provider = failing;
    provider->setPageSize(5);
    addDocuments(a, 8, "a");
    addDocuments(b, 3, "b");
    addDocuments(c, 3, "c");
    auto listing = makeListing();
    loadAndWait(*listing, {a, b, c});
    settleTasks();

    EXPECT_EQ(listing->items().size(), 8); // a's two pages; b and c contribute nothing
    ASSERT_EQ(listing->errors().size(), 1);
    EXPECT_EQ(*listing->errors().constFind(b), StorageError(Code::offline));
    ASSERT_EQ(reported.size(), 1);
    EXPECT_EQ(reported.first().first, StorageError(Code::offline));
    EXPECT_EQ(reported.first().second, b);
    EXPECT_TRUE(listing->tokens().isEmpty());
    EXPECT_EQ(listing->phase(), Phase::loaded);
    // One first call per account and one next page, of a only.
    EXPECT_EQ(provider->callCount(Op::listCategory), 4);
}

TEST_F(CategoryListingTest, EmptyAccountListLoadsEmpty) {
    auto listing = makeListing();
    loadAndWait(*listing, {});
    EXPECT_TRUE(listing->items().isEmpty());
    EXPECT_EQ(listing->phase(), Phase::loaded);
    EXPECT_FALSE(listing->hasMore());
    EXPECT_EQ(provider->callCount(Op::listCategory), 0);
}

TEST_F(CategoryListingTest, AnswersOfAnOlderLoadChangeNothingSuccessAndFailureAlike) {
    addDocuments(a, 30, "a");
    addDocuments(b, 2, "b");
    for (const bool olderFails : {false, true}) {
        auto listing = makeListing();
        reported.clear();
        auto hold = provider->holdNext(Op::listCategory,
                                       olderFails ? std::optional(StorageError(Code::server))
                                                  : std::nullopt);
        listing->load({a});
        ASSERT_TRUE(hold->waitEntered());
        loadAndWait(*listing, {b});
        ASSERT_EQ(listing->items().size(), 2);

        QSignalSpy items(listing.get(), &CategoryListing::itemsChanged);
        QSignalSpy errors(listing.get(), &CategoryListing::errorsChanged);
        QSignalSpy tokens(listing.get(), &CategoryListing::tokensChanged);
        hold->release(); // a's first page (with a token) or a failure, too late either way
        settleTasks();
        EXPECT_EQ(items.count() + errors.count() + tokens.count(), 0) << olderFails;
        EXPECT_EQ(listing->items().size(), 2);
        EXPECT_TRUE(listing->errors().isEmpty());
        EXPECT_FALSE(listing->hasMore());
        EXPECT_TRUE(reported.isEmpty());
    }
}

TEST_F(CategoryListingTest, ReloadDuringABatchLeavesNoStuckFlagAndFillsAgain) {
    provider->setPageSize(5);
    addDocuments(a, 30, "a");
    auto listing = makeListing();
    provider->holdNext(Op::listCategory)->release();   // first page
    auto batch = provider->holdNext(Op::listCategory); // the first fill batch
    listing->load({a});
    ASSERT_TRUE(batch->waitEntered());
    ASSERT_TRUE(listing->isLoadingMore());

    loadAndWait(*listing, {a});
    EXPECT_FALSE(listing->isLoadingMore());
    EXPECT_EQ(listing->items().size(), 20); // 5 + three fill batches
    batch->release();
    settleTasks();
    EXPECT_EQ(listing->items().size(), 20);
    EXPECT_FALSE(listing->isLoadingMore());
    EXPECT_TRUE(listing->loadMore());
}

TEST_F(CategoryListingTest, AbandonedFirstLoadReturnsToIdle) {
    addDocuments(a, 3, "a");
    auto listing = makeListing();
    auto hold = provider->holdNext(Op::listCategory);
    listing->load({a});
    ASSERT_TRUE(hold->waitEntered());
    listing->cancel();
    EXPECT_EQ(listing->phase(), Phase::idle);
    hold->release();
    settleTasks();
    EXPECT_EQ(listing->phase(), Phase::idle);
    EXPECT_TRUE(listing->items().isEmpty());
    loadAndWait(*listing, {a});
    EXPECT_EQ(listing->items().size(), 3);
}

TEST_F(CategoryListingTest, NextPagesSkipListedItemsAndOrderTiesByName) {
    provider->setPageSize(2);
    const FileItem repeated = fileItem(a, "r", "r.txt", std::nullopt, 5);
    provider->addItem(fileItem(a, "n10", "note10.txt", std::nullopt, 9));
    provider->addItem(repeated);
    provider->addItem(repeated);
    provider->addItem(fileItem(a, "n2", "note2.txt", std::nullopt, 9));
    provider->addItem(fileItem(a, "u", "undated.txt"));
    auto listing = makeListing();
    loadAndWait(*listing, {a});
    EXPECT_EQ(namesOf(listing->items()),
              (QStringList{"note2.txt", "note10.txt", "r.txt", "undated.txt"}));

    QSignalSpy items(listing.get(), &CategoryListing::itemsChanged);
    listing->remove(FileRef{a, "r"});
    EXPECT_EQ(listing->items().size(), 3);
    listing->remove(FileRef{a, "absent"});
    EXPECT_EQ(listing->items().size(), 3);
    EXPECT_EQ(items.count(), 2); // remove notifies on every call
}

TEST_F(CategoryListingTest, LoadMoreDoesNothingWhenItCannot) {
    auto listing = makeListing();
    EXPECT_FALSE(listing->loadMore()); // idle
    provider->setPageSize(30);
    addDocuments(a, 40, "a");
    auto hold = provider->holdNext(Op::listCategory);
    listing->load({a});
    EXPECT_FALSE(listing->loadMore()); // loading
    hold->release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return listing->phase() == Phase::loaded; }));
    auto next = provider->holdNext(Op::listCategory);
    EXPECT_TRUE(listing->loadMore());
    EXPECT_FALSE(listing->loadMore()); // a batch runs
    next->release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !listing->isLoadingMore(); }));
    EXPECT_FALSE(listing->loadMore()); // no tokens
    EXPECT_EQ(listing->items().size(), 40);
}
