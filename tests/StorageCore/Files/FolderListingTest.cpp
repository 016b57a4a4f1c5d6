#include "StorageCore/Files/FolderListing.h"

#include "tests/StorageCore/Files/FileItems.h"
#include "tests/StorageCore/Files/HeldProvider.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <functional>

using namespace tw;
using namespace tw::test;
using Code = StorageError::Code;
using Op = FakeStorageProvider::Op;
using Phase = FolderListing::Phase;
using Kind = FolderListing::Phase::Kind;

namespace {

const QString kFolder = QStringLiteral("F");

class FolderListingTest : public ::testing::Test {
protected:
    void SetUp() override { account = QUuid::createUuid(); }

    std::unique_ptr<FolderListing> makeListing(std::optional<QString> folder = kFolder) {
        return std::make_unique<FolderListing>(account, folder, provider,
                                               [this](const StorageError& e) { errors.append(e); });
    }
    /// Starts a load and waits until it (first page and background paging) has ended.
    static void loadAndWait(FolderListing& listing) {
        QSignalSpy finished(&listing, &FolderListing::loadFinished);
        listing.load();
        ASSERT_TRUE(finished.wait(5000));
    }
    static void waitNotLoadingMore(FolderListing& listing) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !listing.isLoadingMore(); }, 5000));
    }
    FileItem item(const QString& id, const QString& name, std::optional<QString> parent = kFolder) {
        return fileItem(account, id, name, parent);
    }

    QUuid account;
    std::shared_ptr<HeldProvider> provider = std::make_shared<HeldProvider>();
    QList<StorageError> errors;
};

} // namespace

// ---- paging ---------------------------------------------------------------------------------

TEST_F(FolderListingTest, BackgroundPagingStopsAtTheFillLimitAndLoadMoreGoesOn) {
    provider->addFiles(account, kFolder, 2250);
    auto listing = makeListing();
    loadAndWait(*listing);

    EXPECT_EQ(listing->items().size(), 2000);
    EXPECT_EQ(provider->callCount(Op::listFolder), 20);
    EXPECT_TRUE(listing->hasMore());
    EXPECT_EQ(listing->phase(), Phase::loaded());
    EXPECT_FALSE(listing->isLoadingMore());

    EXPECT_TRUE(listing->loadMore());
    waitNotLoadingMore(*listing);
    EXPECT_EQ(listing->items().size(), 2100);
    EXPECT_EQ(provider->callCount(Op::listFolder), 21);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(FolderListingTest, FirstPageSizeDecidesWhetherBackgroundPagingStarts) {
    struct Case {
        int pageSize;
        int expectedCalls;
    };
    for (const Case c : {Case{2000, 1}, Case{1999, 2}}) {
        provider = std::make_shared<HeldProvider>();
        provider->setPageSize(c.pageSize);
        provider->addFiles(account, kFolder, 4500);
        auto listing = makeListing();
        loadAndWait(*listing);
        EXPECT_EQ(provider->callCount(Op::listFolder), c.expectedCalls) << c.pageSize;
        EXPECT_TRUE(listing->hasMore());
    }
}

TEST_F(FolderListingTest, AnswerOfAnOlderLoadIsDroppedSuccessAndFailureAlike) {
    for (const bool olderFails : {false, true}) {
        provider = std::make_shared<HeldProvider>();
        errors.clear();
        provider->addFiles(account, kFolder, 3);
        auto listing = makeListing();
        auto hold = provider->holdNext(
            Op::listFolder, olderFails ? std::optional(StorageError(Code::server)) : std::nullopt);
        listing->load();
        ASSERT_TRUE(hold->waitEntered());
        provider->addFiles(account, kFolder, 2, QStringLiteral("late"));
        loadAndWait(*listing); // the newer load answers first, with five items
        ASSERT_EQ(listing->items().size(), 5);

        QSignalSpy itemsSpy(listing.get(), &FolderListing::itemsChanged);
        QSignalSpy phaseSpy(listing.get(), &FolderListing::phaseChanged);
        hold->release();
        settleTasks();
        EXPECT_EQ(listing->items().size(), 5) << olderFails;
        EXPECT_EQ(listing->phase(), Phase::loaded());
        EXPECT_EQ(itemsSpy.count(), 0);
        EXPECT_EQ(phaseSpy.count(), 0);
        EXPECT_TRUE(errors.isEmpty());
    }
}

TEST_F(FolderListingTest, ReloadDuringANextPageLeavesNoStuckFlagAndPagesAgain) {
    provider->addFiles(account, kFolder, 300);
    auto listing = makeListing();
    auto hold = provider->holdNext(Op::listFolder); // first page of the first load
    auto nextHold = provider->holdNext(Op::listFolder);
    listing->load();
    hold->release();
    ASSERT_TRUE(nextHold->waitEntered()); // the background page is in flight
    ASSERT_TRUE(QTest::qWaitFor([&] { return listing->isLoadingMore(); }));

    loadAndWait(*listing);
    EXPECT_FALSE(listing->isLoadingMore());
    EXPECT_EQ(listing->items().size(), 300);
    EXPECT_FALSE(listing->hasMore());

    nextHold->release(); // the superseded page answers now
    settleTasks();
    EXPECT_FALSE(listing->isLoadingMore());
    EXPECT_EQ(listing->items().size(), 300);
    // first load: 2 calls; reload: 3 pages. Nothing else was asked.
    EXPECT_EQ(provider->callCount(Op::listFolder), 5);
}

TEST_F(FolderListingTest, CancelledNextPageEndsBackgroundPagingInsteadOfSpinning) {
    provider->addFiles(account, kFolder, 500);
    auto listing = makeListing();
    auto first = provider->holdNext(Op::listFolder);
    auto second = provider->holdNext(Op::listFolder, StorageError(Code::cancelled));
    QSignalSpy finished(listing.get(), &FolderListing::loadFinished);
    listing->load();
    first->release();
    ASSERT_TRUE(second->waitEntered());
    second->release();
    ASSERT_TRUE(finished.wait(5000));
    settleTasks();

    // Only the first page reached the log (the cancelled hold answers before it): no page
    // was asked again after the cancellation.
    EXPECT_EQ(provider->callCount(Op::listFolder), 1);
    EXPECT_EQ(listing->items().size(), 100);
    EXPECT_FALSE(listing->isLoadingMore());
    EXPECT_FALSE(listing->loadMoreError().has_value());
    EXPECT_TRUE(listing->hasMore());
    EXPECT_TRUE(errors.isEmpty());

    EXPECT_TRUE(listing->loadMore()); // an explicit request still works
    waitNotLoadingMore(*listing);
    EXPECT_EQ(listing->items().size(), 200);
}

TEST_F(FolderListingTest, BackgroundPagingStopsWhenAPageHandsBackTheTokenItWasAskedWith) {
    // A back end stuck on one page: every next page is empty and names itself again.
    class StuckProvider : public HeldProvider {
    public:
        Page listFolder(const QUuid& accountID, const std::optional<QString>& parentID,
                        const std::optional<QString>& pageToken) override {
            Page page = HeldProvider::listFolder(accountID, parentID, std::nullopt);
            if (pageToken)
                page.items.clear();
            page.nextPageToken = QStringLiteral("same");
            return page;
        }
    };
    provider = std::make_shared<StuckProvider>();
    provider->addFiles(account, kFolder, 3);
    auto listing = makeListing();
    loadAndWait(*listing);
    settleTasks();
    EXPECT_EQ(provider->callCount(Op::listFolder), 2); // the first page and one more
    EXPECT_EQ(listing->items().size(), 3);
    EXPECT_TRUE(listing->hasMore());
    EXPECT_FALSE(listing->isLoadingMore());

    EXPECT_TRUE(listing->loadMore()); // an explicit request still asks
    waitNotLoadingMore(*listing);
    settleTasks();
    EXPECT_EQ(provider->callCount(Op::listFolder), 3);
}

TEST_F(FolderListingTest, FailedNextPageStopsPagingAndExplicitLoadMoreClearsTheError) {
    provider->addFiles(account, kFolder, 350);
    auto listing = makeListing();
    provider->holdNext(Op::listFolder)->release();
    provider->holdNext(Op::listFolder, StorageError(Code::offline))->release();
    loadAndWait(*listing);

    ASSERT_EQ(listing->loadMoreError(), std::optional(StorageError(Code::offline)));
    EXPECT_EQ(listing->phase(), Phase::loaded());
    EXPECT_EQ(listing->items().size(), 100);
    EXPECT_EQ(errors, QList<StorageError>{StorageError(Code::offline)});

    auto hold = provider->holdNext(Op::listFolder);
    EXPECT_TRUE(listing->loadMore());
    EXPECT_FALSE(listing->loadMoreError().has_value()); // cleared before asking
    hold->release();
    waitNotLoadingMore(*listing);
    settleTasks();
    EXPECT_EQ(listing->items().size(), 200); // one page, no background paging
    // Logged: the first page and the explicit one (a failing hold answers before the log).
    EXPECT_EQ(provider->callCount(Op::listFolder), 2);
}

TEST_F(FolderListingTest, LoadMoreDoesNothingOutsideALoadedPhaseWithAToken) {
    provider->addFiles(account, kFolder, 150);
    auto listing = makeListing();
    EXPECT_FALSE(listing->loadMore()); // idle

    auto hold = provider->holdNext(Op::listFolder);
    listing->load();
    EXPECT_FALSE(listing->loadMore()); // loading
    hold->release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return listing->phase() == Phase::loaded(); }));
    waitNotLoadingMore(*listing);
    EXPECT_FALSE(listing->hasMore());
    EXPECT_FALSE(listing->loadMore()); // no token

    provider->failNext(Op::listFolder, StorageError(Code::server));
    loadAndWait(*listing);
    EXPECT_EQ(listing->phase(), Phase::failed(StorageError(Code::server)));
    EXPECT_EQ(listing->items().size(), 150); // a failed reload keeps what was shown
    EXPECT_FALSE(listing->loadMore());       // failed

    const int calls = provider->callCount(Op::listFolder);
    settleTasks();
    EXPECT_EQ(provider->callCount(Op::listFolder), calls);
}

TEST_F(FolderListingTest, SecondLoadMoreWhileOneRunsDoesNothing) {
    provider->setPageSize(2000);
    provider->addFiles(account, kFolder, 2500);
    auto listing = makeListing();
    loadAndWait(*listing);
    auto hold = provider->holdNext(Op::listFolder);
    EXPECT_TRUE(listing->loadMore());
    EXPECT_FALSE(listing->loadMore());
    hold->release();
    waitNotLoadingMore(*listing);
    EXPECT_EQ(provider->callCount(Op::listFolder), 2);
}

// ---- abandoned and cancelled loads ------------------------------------------------------------

TEST_F(FolderListingTest, AbandonedFirstLoadReturnsToIdleSoTheNextVisitLoads) {
    provider->addFiles(account, kFolder, 5);
    auto listing = makeListing();
    auto hold = provider->holdNext(Op::listFolder);
    QSignalSpy finished(listing.get(), &FolderListing::loadFinished);
    listing->load();
    ASSERT_TRUE(hold->waitEntered());
    listing->cancel(); // the view went away
    EXPECT_EQ(listing->phase(), Phase::idle());
    EXPECT_EQ(finished.count(), 1);

    hold->release(); // its answer comes anyway: dropped
    settleTasks();
    EXPECT_EQ(listing->phase(), Phase::idle());
    EXPECT_TRUE(listing->items().isEmpty());

    loadAndWait(*listing); // the next visit sees idle and loads
    EXPECT_EQ(listing->items().size(), 5);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(FolderListingTest, FirstPageEndingCancelledReturnsToThePhaseBefore) {
    provider->addFiles(account, kFolder, 5);
    auto listing = makeListing();
    provider->failNext(Op::listFolder, StorageError(Code::cancelled));
    loadAndWait(*listing);
    EXPECT_EQ(listing->phase(), Phase::idle());

    loadAndWait(*listing);
    ASSERT_EQ(listing->phase(), Phase::loaded());
    provider->failNext(Op::listFolder, StorageError(Code::cancelled));
    loadAndWait(*listing); // a cancelled reload keeps the loaded listing
    EXPECT_EQ(listing->phase(), Phase::loaded());
    EXPECT_EQ(listing->items().size(), 5);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(FolderListingTest, CancelDuringANextPageClearsTheFlag) {
    provider->addFiles(account, kFolder, 300);
    auto listing = makeListing();
    auto first = provider->holdNext(Op::listFolder);
    auto next = provider->holdNext(Op::listFolder);
    listing->load();
    first->release();
    ASSERT_TRUE(next->waitEntered());
    ASSERT_TRUE(QTest::qWaitFor([&] { return listing->isLoadingMore(); }));
    listing->cancel();
    EXPECT_FALSE(listing->isLoadingMore());
    next->release();
    settleTasks();
    EXPECT_EQ(listing->items().size(), 100);
    EXPECT_EQ(listing->phase(), Phase::loaded());
    EXPECT_TRUE(listing->loadMore());
    waitNotLoadingMore(*listing);
    EXPECT_EQ(listing->items().size(), 200);
}

// ---- order and changes ----------------------------------------------------------------------

TEST_F(FolderListingTest, FoldersFirstThenNaturalNameOrderKeepingEqualsInPlace) {
    provider->setPageSize(3);
    for (const FileItem& i : {item("a", "file10.txt"), item("b", "report"), item("c", "file2.txt"),
                              folderItem(account, "d", "Zeta", kFolder), item("e", "Report"),
                              folderItem(account, "f", "alpha", kFolder)})
        provider->addItem(i);
    auto listing = makeListing();
    loadAndWait(*listing);
    EXPECT_EQ(namesOf(listing->items()),
              (QStringList{"alpha", "Zeta", "file2.txt", "file10.txt", "report", "Report"}));

    listing->insert(item("g", "REPORT"));
    EXPECT_EQ(namesOf(listing->items()).mid(4),
              (QStringList{"REPORT", "report", "Report"})); // inserted before its equals
}

TEST_F(FolderListingTest, PagesThatSortAfterTheListedItemsAreAnnouncedAsAppended) {
    using Change = FolderListing::ItemsChange;
    provider->setPageSize(2);
    // Pages: [a1, a2], [a3, b1] (in order), [a0, c1] (a0 goes before listed items), [c2].
    for (const FileItem& i : {item("1", "a1"), item("2", "a2"), item("3", "a3"), item("4", "b1"),
                              item("5", "a0"), item("6", "c1"), item("7", "c2")})
        provider->addItem(i);
    auto listing = makeListing();
    QList<Change> changes;
    QList<qsizetype> sizes;
    QObject::connect(listing.get(), &FolderListing::itemsChanged, [&] {
        changes.append(listing->lastChange());
        sizes.append(listing->items().size());
    });
    loadAndWait(*listing);
    EXPECT_EQ(namesOf(listing->items()), (QStringList{"a0", "a1", "a2", "a3", "b1", "c1", "c2"}));
    EXPECT_EQ(changes, (QList<Change>{{Change::Kind::appended, 0},
                                      {Change::Kind::appended, 2},
                                      {Change::Kind::other, 0},
                                      {Change::Kind::appended, 6}}));
    EXPECT_EQ(sizes, (QList<qsizetype>{2, 4, 6, 7}));

    listing->insert(item("8", "b2"));
    EXPECT_EQ(listing->lastChange().kind, Change::Kind::other);
    EXPECT_EQ(namesOf(listing->items()).mid(4, 2), (QStringList{"b1", "b2"}));
}

TEST_F(FolderListingTest, NextPageRepeatingAListedItemDoesNotListItTwice) {
    provider->setPageSize(2);
    const FileItem repeated = item("r", "repeated");
    provider->addItem(repeated);
    provider->addItem(item("x", "x"));
    provider->addItem(repeated); // comes again on the second page
    provider->addItem(item("y", "y"));
    auto listing = makeListing();
    loadAndWait(*listing);
    EXPECT_EQ(namesOf(listing->items()), (QStringList{"repeated", "x", "y"}));
}

TEST_F(FolderListingTest, NextPageListsAnItemAgainOnlyOnceEveryEntryOfItHasLeft) {
    // The first page lists "a" twice; while the second page (which brings "a" once more) is
    // on its way, the application drops both entries or moves only one of them away.
    struct Case {
        const char* name;
        std::function<void(FolderListing&)> edit;
        QStringList expected;
    };
    const Case cases[] = {
        {"both entries removed: listed again",
         [&](FolderListing& l) {
             l.remove(FileRef{account, "a"});
         },
         {"a", "c"}},
        {"one entry moved away: the other still lists it",
         [&](FolderListing& l) { l.replace(item("a", "a", QStringLiteral("G"))); },
         {"a", "c"}},
        {"nothing left: a repeat", [](FolderListing&) {}, {"a", "a", "c"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        provider = std::make_shared<HeldProvider>();
        provider->setPageSize(2);
        for (const char* id : {"a", "a", "a", "c"})
            provider->addItem(item(QLatin1String(id), QLatin1String(id)));
        auto listing = makeListing();
        const auto first = provider->holdNext(Op::listFolder);
        const auto second = provider->holdNext(Op::listFolder);
        QSignalSpy finished(listing.get(), &FolderListing::loadFinished);
        listing->load();
        ASSERT_TRUE(first->waitEntered());
        first->release();
        ASSERT_TRUE(second->waitEntered());
        ASSERT_EQ(namesOf(listing->items()), (QStringList{"a", "a"}));
        c.edit(*listing);
        second->release();
        ASSERT_TRUE(finished.wait(5000));
        EXPECT_EQ(namesOf(listing->items()), c.expected);
    }
}

TEST_F(FolderListingTest, EditsAtTheTopAndPastTheRoomKeepItemsAndCategoriesInStep) {
    const auto file = [&](const QString& id, const QString& name, const char* type) {
        FileItem made = item(id, name);
        made.mimeType = QLatin1String(type);
        return made;
    };
    provider->addItem(file("p", "b.jpg", "image/jpeg"));
    provider->addItem(file("d", "c.pdf", "application/pdf"));
    provider->addItem(file("s", "d.mp3", "audio/mpeg"));
    auto listing = makeListing();
    loadAndWait(*listing);
    const auto expectInStep = [&] {
        for (qsizetype i = 0; i < listing->items().size(); ++i)
            ASSERT_EQ(listing->categoryAt(i), listing->items()[i].category()) << "at " << i;
    };

    // Folders sort first: each one goes in at the top, far past the room the first page left.
    QStringList folders;
    for (int i = 99; i >= 0; --i) {
        const QString name = QStringLiteral("f%1").arg(i, 2, 10, QLatin1Char('0'));
        listing->insert(folderItem(account, name, name, kFolder));
        folders.prepend(name);
    }
    listing->insert(file("z", "a.zip", "application/zip")); // first of the files
    expectInStep();
    EXPECT_EQ(namesOf(listing->items()),
              (folders + QStringList{"a.zip", "b.jpg", "c.pdf", "d.mp3"}));

    // Removed from the top, one by one, and at the end.
    for (int i = 0; i < 50; ++i)
        listing->remove(FileRef{account, folders[i]});
    listing->remove(FileRef{account, "s"});
    expectInStep();
    EXPECT_EQ(namesOf(listing->items()),
              (folders.mid(50) + QStringList{"a.zip", "b.jpg", "c.pdf"}));
    listing->remove(FileRef{account, folders[50]}); // removed ones are not found again
    listing->remove(FileRef{account, folders[0]});
    EXPECT_EQ(listing->items().size(), 52);
    EXPECT_EQ(listing->items().first().name, folders[51]);
}

TEST_F(FolderListingTest, InsertReplaceAndRemoveFollowTheFolder) {
    provider->addItem(item("a", "a"));
    provider->addItem(item("b", "b"));
    auto listing = makeListing();
    loadAndWait(*listing);
    QSignalSpy spy(listing.get(), &FolderListing::itemsChanged);

    FileItem foreign = item("z", "z");
    foreign.ref.accountID = QUuid::createUuid();
    listing->insert(foreign);                             // other account
    listing->insert(item("o", "o", QStringLiteral("G"))); // other folder
    listing->replace(item("missing", "m"));               // not listed
    listing->remove(FileRef{account, "missing"});         // not listed
    listing->insert(item("a", "a"));                      // identical, same place
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(namesOf(listing->items()), (QStringList{"a", "b"}));

    listing->insert(item("a", "c")); // same ref: replaces the old entry
    EXPECT_EQ(namesOf(listing->items()), (QStringList{"b", "c"}));
    listing->replace(item("b", "d")); // rename re-sorts
    EXPECT_EQ(namesOf(listing->items()), (QStringList{"c", "d"}));
    listing->replace(item("a", "c", QStringLiteral("G"))); // moved away: dropped
    EXPECT_EQ(namesOf(listing->items()), (QStringList{"d"}));
    listing->remove(FileRef{account, "b"});
    EXPECT_TRUE(listing->items().isEmpty());
    EXPECT_EQ(spy.count(), 4);
}

TEST_F(FolderListingTest, RootListingAcceptsEveryItemOfTheAccount) {
    auto listing = makeListing(std::nullopt);
    listing->insert(item("a", "deep", QStringLiteral("somewhere")));
    listing->insert(item("b", "top", std::nullopt));
    EXPECT_EQ(listing->items().size(), 2);
    listing->replace(item("a", "deeper", QStringLiteral("elsewhere")));
    EXPECT_EQ(namesOf(listing->items()), (QStringList{"deeper", "top"}));
}

TEST_F(FolderListingTest, ReplaceKeepsItsPlaceAmongEqualNames) {
    provider->addItem(item("1", "same"));
    provider->addItem(item("2", "same"));
    provider->addItem(item("3", "same"));
    auto listing = makeListing();
    loadAndWait(*listing);
    FileItem changed = item("2", "same");
    changed.sizeBytes = 99;
    listing->replace(changed);
    ASSERT_EQ(listing->items().size(), 3);
    EXPECT_EQ(listing->items()[1].ref.providerID, "2");
    EXPECT_EQ(listing->items()[1].sizeBytes, 99);
}

TEST_F(FolderListingTest, ItemsShareWhatTheyRepeatAndKeepTheirDatesCompact) {
    // Each item comes with its own copies of its type and parents, as a back end decodes them.
    for (int i = 0; i < 3; ++i) {
        FileItem file = item(QStringLiteral("f%1").arg(i), QStringLiteral("photo %1.png").arg(i));
        file.mimeType = QString::fromLatin1("image/png");
        file.parentIDs = {QString::fromLatin1("F")};
        file.modifiedAt = QDateTime(QDate(2025, 3, 1 + i), QTime(10, 0), QTimeZone::utc());
        provider->addItem(file);
    }
    auto listing = makeListing();
    loadAndWait(*listing);
    FileItem late = item(QStringLiteral("late"), QStringLiteral("photo 9.png"));
    late.mimeType = QString::fromLatin1("image/png");
    late.parentIDs = {QString::fromLatin1("F")};
    late.modifiedAt = QDateTime(QDate(2025, 3, 9), QTime(10, 0), QTimeZone::utc());
    listing->insert(late);

    const QList<FileItem>& items = listing->items();
    ASSERT_EQ(items.size(), 4);
    for (qsizetype i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(items[i].name.toStdString());
        EXPECT_TRUE(items[i].mimeType.isSharedWith(items[0].mimeType));
        EXPECT_TRUE(items[i].parentIDs.isSharedWith(items[0].parentIDs));
        // A UTC date holds no time-zone private; the moment stays the same.
        ASSERT_TRUE(items[i].modifiedAt);
        EXPECT_EQ(items[i].modifiedAt->timeSpec(), Qt::UTC);
        EXPECT_EQ(listing->categoryAt(i), FileCategory::photos);
    }
    EXPECT_EQ(items.last().modifiedAt,
              QDateTime(QDate(2025, 3, 9), QTime(10, 0), QTimeZone::utc()));
}

TEST_F(FolderListingTest, PagesThatInterleaveMergeAsAStableSortWouldOrderThem) {
    // Newest-first back ends hand out names in any order: every page lands among the
    // listed items, equal names keep the listed one first.
    const QStringList names = {"b 10", "a", "B 2", "c", "a", "b 1", "d", "A", "b 3", "e"};
    provider->setPageSize(3);
    for (qsizetype i = 0; i < names.size(); ++i)
        provider->addItem(item(QStringLiteral("i%1").arg(i), names[i]));
    provider->addItem(
        folderItem(account, QStringLiteral("dir"), QStringLiteral("z folder"), kFolder));
    auto listing = makeListing();
    QSignalSpy aboutToChange(listing.get(), &FolderListing::itemsAboutToChange);
    loadAndWait(*listing);
    EXPECT_EQ(namesOf(listing->items()),
              (QStringList{"z folder", "a", "a", "A", "b 1", "B 2", "b 3", "b 10", "c", "d", "e"}));
    QStringList ids;
    for (const FileItem& i : listing->items())
        ids.append(i.ref.providerID);
    EXPECT_EQ(ids.mid(1, 3), (QStringList{"i1", "i4", "i7"}));
    // Merges into the middle are announced before they happen, appends are not.
    EXPECT_GE(aboutToChange.count(), 1);
}

TEST_F(FolderListingTest, SignalsOnlyForRealChanges) {
    provider->addFiles(account, kFolder, 3);
    auto listing = makeListing();
    loadAndWait(*listing);
    QSignalSpy items(listing.get(), &FolderListing::itemsChanged);
    QSignalSpy phase(listing.get(), &FolderListing::phaseChanged);
    QSignalSpy token(listing.get(), &FolderListing::nextPageTokenChanged);
    QSignalSpy generation(listing.get(), &FolderListing::generationChanged);
    loadAndWait(*listing); // same answer again
    EXPECT_EQ(items.count(), 0);
    EXPECT_EQ(token.count(), 0);
    EXPECT_EQ(phase.count(), 2); // loading, then loaded
    EXPECT_EQ(generation.count(), 1);
}
