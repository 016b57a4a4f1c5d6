// The folder table against the real model over fake back ends: paging as the user scrolls,
// selection across pages and re-sorts, filter counts, content states, the shared listing
// that leaving a folder never leaves loading, Space, double-click and the upload status.
#include "tests/App/Browser/BrowserFixture.h"

#include "App/Browser/UploadStatusButton.h"
#include "App/DesignSystem/ContentUnavailableView.h"
#include "StorageCore/Transfers/UploadManager.h"
#include "tests/support/ControlledUploadProvider.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTimeZone>
#include <QToolButton>

using namespace tw;
using namespace tw::test;
using Code = StorageError::Code;
using Op = FakeStorageProvider::Op;
using State = FolderContentView::State;
using Kind = FolderListing::Phase::Kind;

namespace {

class FolderTableTest : public BrowserFixture {
protected:
    FolderContentView& content() { return *pane->content(); }
    QString status() { return child<QLabel>(pane.get(), QStringLiteral("statusText"))->text(); }
    /// Selects rows the way a user does (through the view's selection model).
    void selectRows(std::initializer_list<int> rows) {
        QItemSelectionModel* selection = content().table()->selectionModel();
        selection->clearSelection();
        for (int row : rows)
            selection->select(content().tableModel()->index(row, 0),
                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QSet<FileRef> selectedInView() {
        QSet<FileRef> refs;
        for (const QModelIndex& index : content().table()->selectionModel()->selectedRows())
            refs.insert(content().tableModel()->item(index.row()).ref);
        return refs;
    }
    /// A Drive root of 57 items: 3 folders, 1 photo, 3 documents, 2 audio, the rest text.
    void addMixedRoot() {
        for (int i = 0; i < 3; ++i)
            drive->addItem(folderItem(work.id, QStringLiteral("dir%1").arg(i),
                                      QStringLiteral("Folder %1").arg(i)));
        drive->addItem(typedItem(work.id, QStringLiteral("img"), QStringLiteral("beach.jpg"),
                                 QStringLiteral("image/jpeg")));
        for (int i = 0; i < 3; ++i)
            drive->addItem(typedItem(work.id, QStringLiteral("doc%1").arg(i),
                                     QStringLiteral("report %1.pdf").arg(i),
                                     QStringLiteral("application/pdf")));
        for (int i = 0; i < 2; ++i)
            drive->addItem(typedItem(work.id, QStringLiteral("song%1").arg(i),
                                     QStringLiteral("song %1.mp3").arg(i),
                                     QStringLiteral("audio/mpeg")));
        for (int i = 0; i < 48; ++i)
            drive->addItem(typedItem(work.id, QStringLiteral("bin%1").arg(i),
                                     QStringLiteral("data %1.bin").arg(i),
                                     QStringLiteral("application/octet-stream")));
    }
};

} // namespace

TEST_F(FolderTableTest, PagesToTheEndOfAThreePageFolderAsTheUserScrolls) {
    start({work});
    drive->setPageSize(1000);
    drive->addFiles(work.id, std::nullopt, 3000);
    showPane(work);
    waitLoaded();
    QAbstractItemModelTester tester(content().tableModel(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);

    // Background paging stops at its fill limit; the table shows what is loaded.
    EXPECT_EQ(content().tableModel()->rowCount(), 2000);
    EXPECT_EQ(status(), QStringLiteral("2000+ items"));
    EXPECT_EQ(drive->callCount(Op::listFolder), 2);

    selectRows({5, 10});
    const QSet<FileRef> selected = content().selection();
    ASSERT_EQ(selected.size(), 2);

    content().table()->scrollToBottom();
    waitFor([&] { return content().tableModel()->rowCount() == 3000; });
    waitLoaded();
    EXPECT_EQ(drive->callCount(Op::listFolder), 3);
    EXPECT_FALSE(content().listing()->hasMore());
    EXPECT_EQ(status(), QStringLiteral("3000 items"));
    // The selection survived the new page, in the view and in the table's state.
    EXPECT_EQ(content().selection(), selected);
    EXPECT_EQ(selectedInView(), selected);

    // At the end nothing more is asked for, however often the last row comes into view.
    content().table()->scrollToTop();
    content().table()->scrollToBottom();
    ASSERT_TRUE(content().isPagingCheckPending());
    waitFor([&] { return !content().isPagingCheckPending(); });
    EXPECT_FALSE(content().listing()->isLoadingMore());
    EXPECT_EQ(drive->callCount(Op::listFolder), 3);
}

TEST_F(FolderTableTest, SelectionFollowsRowsThatMoveOrGoAndSurvivesAFilterRoundTrip) {
    start({work});
    addMixedRoot();
    showPane(work);
    waitLoaded();
    QAbstractItemModelTester tester(content().tableModel(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    FolderTableModel* rows = content().tableModel();
    const int beach = rows->rowOf(FileRef{work.id, QStringLiteral("img")});
    const int report = rows->rowOf(FileRef{work.id, QStringLiteral("doc1")});
    selectRows({beach, report});
    const QSet<FileRef> selected = content().selection();

    // A rename that moves a row to the end (a re-sort) and a trashed row elsewhere.
    const FileItem first = rows->item(rows->rowOf(FileRef{work.id, QStringLiteral("doc0")}));
    model->rename(first, QStringLiteral("zzz last.pdf"), std::nullopt);
    model->trash(rows->item(rows->rowOf(FileRef{work.id, QStringLiteral("song0")})), std::nullopt);
    waitFor([&] {
        return rows->rowOf(FileRef{work.id, QStringLiteral("song0")}) < 0 &&
               rows->item(rows->rowCount() - 1).name == QStringLiteral("zzz last.pdf");
    });
    EXPECT_EQ(content().selection(), selected);
    EXPECT_EQ(selectedInView(), selected);

    // Filtering hides one selected row; the selection is kept and shown again with All.
    content().setFilter(FileCategory::photos);
    const QSet<FileRef> photo{FileRef{work.id, QStringLiteral("img")}};
    EXPECT_EQ(selectedInView(), photo);
    content().setFilter(std::nullopt);
    EXPECT_EQ(selectedInView(), selected);
}

TEST_F(FolderTableTest, AFilterSwitchPaintsTheTableOnce) {
    start({work});
    addMixedRoot();
    showPane(work);
    waitLoaded();
    FolderTableView* table = content().table();

    /// Counts the table's frames.
    struct Frames : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint)
                ++count;
            return false;
        }
    } frames;
    table->viewport()->installEventFilter(&frames);
    // Switches that leave the scroll bar as it is (one that comes or goes narrows or widens
    // the columns, which Qt repaints on a timer of its own).
    content().setFilter(FileCategory::audio);
    QCoreApplication::processEvents();
    for (FileCategory filter :
         {FileCategory::documents, FileCategory::photos, FileCategory::audio}) {
        SCOPED_TRACE(int(filter));
        frames.count = 0;
        content().setFilter(filter);
        // The events that follow, until a turn paints nothing more: the new rows are laid
        // out before the one frame that shows them (not painted, then laid out and painted
        // again).
        int before = 0;
        for (int turn = 0; turn < 10; ++turn) {
            before = frames.count;
            QCoreApplication::processEvents();
            if (frames.count == before)
                break;
        }
        EXPECT_EQ(frames.count, 1);
    }
    table->viewport()->removeEventFilter(&frames);
}

TEST_F(FolderTableTest, RowsAreTheListingsOwnItemsThroughEditsAndFilters) {
    start({work});
    addMixedRoot();
    showPane(work);
    waitLoaded();
    FolderTableModel* rows = content().tableModel();
    QAbstractItemModelTester tester(rows, QAbstractItemModelTester::FailureReportingMode::Fatal);
    const FolderListing* listing = content().listing();
    // The rows hold no copies: each is the listing's own item.
    const auto ownItem = [&](int row) {
        const FileItem* item = &rows->item(row);
        const QList<FileItem>& items = listing->items();
        return item >= items.constData() && item < items.constData() + items.size();
    };
    ASSERT_EQ(rows->rowCount(), 57);
    for (int row = 0; row < rows->rowCount(); ++row)
        ASSERT_TRUE(ownItem(row)) << row;

    content().setFilter(FileCategory::documents);
    const FileItem first = rows->item(0);
    model->rename(first, QStringLiteral("zzz last.pdf"), std::nullopt);
    model->trash(rows->item(1), std::nullopt);
    waitFor([&] {
        return rows->rowCount() == 2 && rows->item(1).name == QStringLiteral("zzz last.pdf");
    });
    for (int row = 0; row < rows->rowCount(); ++row)
        EXPECT_TRUE(ownItem(row)) << row;
    EXPECT_EQ(rows->data(rows->index(1, FolderTableModel::nameColumn)).toString(),
              QStringLiteral("zzz last.pdf"));
    EXPECT_EQ(rows->loadedCount(), 56);
}

TEST_F(FolderTableTest, StatusCountsLoadedItemsAndFilteredMatchesInTheSingularForOne) {
    start({work});
    addMixedRoot();
    showPane(work);
    waitLoaded();
    EXPECT_EQ(status(), QStringLiteral("57 items"));
    struct Case {
        std::optional<FileCategory> filter;
        QString text;
    };
    const Case cases[] = {
        {FileCategory::photos, QStringLiteral("1 photo of 57 items")},
        {FileCategory::documents, QStringLiteral("3 documents of 57 items")},
        {FileCategory::audio, QStringLiteral("2 audio of 57 items")},
        {FileCategory::videos, QStringLiteral("0 videos of 57 items")},
        {std::nullopt, QStringLiteral("57 items")},
    };
    for (const Case& c : cases) {
        child<QToolButton>(pane.get(), c.filter ? QStringLiteral("filter") +
                                                      FileCategories::displayName(*c.filter)
                                                : QStringLiteral("filterAll"))
            ->click();
        EXPECT_EQ(content().filter(), c.filter);
        EXPECT_EQ(status(), c.text);
    }
}

TEST_F(FolderTableTest, CountTextAndStatusFollowTheServiceAndTheQuota) {
    EXPECT_EQ(FolderContentView::countText(1, true), QStringLiteral("1 item"));
    EXPECT_EQ(FolderContentView::countText(2, true), QStringLiteral("2+ items"));
    EXPECT_EQ(FolderContentView::countText(0, false), QStringLiteral("0 items"));
    EXPECT_EQ(FolderContentView::countText(57, false), QStringLiteral("57 items"));

    work.quota = StorageQuota(20LL << 30, 15LL << 30); // over its limit
    start({work, phone});
    drive->setQuota(work.id, *work.quota);
    drive->addFiles(work.id, std::nullopt, 2);
    telegram->addItem(folderItem(phone.id, QStringLiteral("r:1"), QStringLiteral("Family")));
    telegram->addItem(typedItem(phone.id, QStringLiteral("m1"), QStringLiteral("a.jpg"),
                                QStringLiteral("image/jpeg"), QStringLiteral("r:1")));
    telegram->addItem(
        folderItem(phone.id, QStringLiteral("saved"), QStringLiteral("Saved Messages")));

    showPane(work);
    waitLoaded();
    EXPECT_EQ(status(), QStringLiteral("2 items, Zero KB available"));

    showPane(phone);
    waitLoaded();
    EXPECT_EQ(status(), QStringLiteral("2 items"));
    model->open(folderItem(phone.id, QStringLiteral("r:1"), QStringLiteral("Family")));
    waitLoaded();
    EXPECT_EQ(status(), QStringLiteral("1 item \u2014 read-only: you can view and download"));
}

TEST_F(FolderTableTest, ContentShowsSpinnerErrorEmptyAndNoMatchStates) {
    start({work, phone});
    drive->addItem(folderItem(work.id, QStringLiteral("empty"), QStringLiteral("Empty")));
    drive->addItem(folderItem(work.id, QStringLiteral("broken"), QStringLiteral("Broken")));
    drive->addFiles(work.id, std::nullopt, 3);
    auto gate = drive->gateNext(Op::listFolder);
    showPane(work);
    EXPECT_EQ(content().state(), State::spinner);
    gate->release();
    waitLoaded();
    EXPECT_EQ(content().state(), State::table);

    // No photo among the loaded items: the no-match view; "Show All" brings the table back.
    content().setFilter(FileCategory::photos);
    EXPECT_EQ(content().state(), State::noMatch);
    auto* state = child<ContentUnavailableView>(pane.get(), QStringLiteral("folderState"));
    EXPECT_EQ(state->title(), QStringLiteral("No Photos Here"));
    EXPECT_EQ(state->description(), QStringLiteral("Choose All to see everything in this folder."));
    EXPECT_EQ(pane->findChild<QPushButton*>(QStringLiteral("stateLoadMore")), nullptr);
    child<QPushButton>(pane.get(), QStringLiteral("stateShowAll"))->click();
    EXPECT_EQ(content().state(), State::table);
    EXPECT_EQ(content().filter(), std::nullopt);

    model->open(folderItem(work.id, QStringLiteral("empty"), QStringLiteral("Empty")));
    waitLoaded();
    EXPECT_EQ(content().state(), State::empty);
    state = pane->content()->findChild<ContentUnavailableView*>(QStringLiteral("folderState"));
    EXPECT_EQ(state->title(), QStringLiteral("Folder Is Empty"));
    EXPECT_EQ(state->description(), QStringLiteral("Drag files here to upload them to Work."));

    // A first page that fails shows the error; "Try Again" loads again.
    model->navigate(work.id, 0);
    drive->failNext(Op::listFolder, StorageError(Code::server));
    model->open(folderItem(work.id, QStringLiteral("broken"), QStringLiteral("Broken")));
    waitLoaded();
    EXPECT_EQ(content().state(), State::error);
    drive->addFiles(work.id, QStringLiteral("broken"), 2);
    child<QPushButton>(pane->content(), QStringLiteral("stateRecovery"))->click();
    waitLoaded();
    EXPECT_EQ(content().state(), State::table);
    EXPECT_EQ(content().tableModel()->rowCount(), 2);

    // An empty chat the user does not own.
    telegram->addItem(folderItem(phone.id, QStringLiteral("g:1"), QStringLiteral("Club")));
    showPane(phone);
    model->open(folderItem(phone.id, QStringLiteral("g:1"), QStringLiteral("Club")));
    waitLoaded();
    state = pane->content()->findChild<ContentUnavailableView*>(QStringLiteral("folderState"));
    EXPECT_EQ(state->title(), QStringLiteral("No Files Here"));
    EXPECT_EQ(state->description(),
              QStringLiteral("This chat has no photos, videos, documents or other files."));
}

TEST_F(FolderTableTest, NoMatchViewOffersLoadMoreWhileMorePagesExist) {
    start({work});
    drive->setPageSize(2000);
    drive->addFiles(work.id, std::nullopt, 2050);
    drive->addItem(typedItem(work.id, QStringLiteral("zz"), QStringLiteral("zzz.jpg"),
                             QStringLiteral("image/jpeg")));
    showPane(work);
    waitLoaded();
    content().setFilter(FileCategory::photos);
    ASSERT_EQ(content().state(), State::noMatch);
    auto* state = pane->content()->findChild<ContentUnavailableView*>(QStringLiteral("folderState"));
    EXPECT_EQ(state->description(), QStringLiteral("Scroll to load more, or choose All."));
    EXPECT_EQ(status(), QStringLiteral("0 photos of 2000+ items loaded"));
    child<QPushButton>(pane->content(), QStringLiteral("stateLoadMore"))->click();
    waitFor([&] { return content().state() == State::table; });
    EXPECT_EQ(status(), QStringLiteral("1 photo of 2051 items"));
}

TEST_F(FolderTableTest, APageThatStillMatchesNothingLeavesTheKeyboardOnLoadMore) {
    start({work});
    drive->setPageSize(2000);
    drive->addFiles(work.id, std::nullopt, 4100);
    showPane(work);
    waitLoaded();
    content().setFilter(FileCategory::photos);
    ASSERT_EQ(content().state(), State::noMatch);
    auto* loadMore = child<QPushButton>(pane->content(), QStringLiteral("stateLoadMore"));
    loadMore->setFocus();
    QTest::keyClick(loadMore, Qt::Key_Space);
    waitFor([&] { return content().tableModel()->loadedCount() == 4000; });
    QCoreApplication::processEvents();
    EXPECT_EQ(content().state(), State::noMatch);
    EXPECT_EQ(pane->content()->findChild<QPushButton*>(QStringLiteral("stateLoadMore")), loadMore);
    EXPECT_TRUE(loadMore->hasFocus());
}

TEST_F(FolderTableTest, LeavingAFolderBeforeItsFirstPageNeverLeavesItsListingLoading) {
    start({work});
    drive->addItem(folderItem(work.id, QStringLiteral("slow"), QStringLiteral("Slow")));
    drive->addFiles(work.id, QStringLiteral("slow"), 5);
    showPane(work);
    waitLoaded();

    auto gate = drive->gateNext(Op::listFolder);
    model->open(folderItem(work.id, QStringLiteral("slow"), QStringLiteral("Slow")));
    FolderListing* slow = model->listing(work.id, QStringLiteral("slow"));
    ASSERT_TRUE(gate->waitEntered());
    EXPECT_EQ(content().state(), State::spinner);
    model->goUp(work.id); // leave before the first page arrives
    QCoreApplication::processEvents();
    gate->release();
    waitFor([&] { return slow->phase().kind == Kind::loaded; });

    // Coming back shows the folder at once; nothing is asked twice.
    const int calls = drive->callCount(Op::listFolder);
    model->open(folderItem(work.id, QStringLiteral("slow"), QStringLiteral("Slow")));
    EXPECT_EQ(content().state(), State::table);
    EXPECT_EQ(content().tableModel()->rowCount(), 5);
    EXPECT_EQ(drive->callCount(Op::listFolder), calls);

    // A first load that ends cancelled on its own goes back to idle, and the next visit loads.
    drive->addItem(folderItem(work.id, QStringLiteral("other"), QStringLiteral("Other")));
    drive->addFiles(work.id, QStringLiteral("other"), 2);
    drive->failNext(Op::listFolder, StorageError(Code::cancelled));
    model->navigate(work.id, 0);
    model->open(folderItem(work.id, QStringLiteral("other"), QStringLiteral("Other")));
    FolderListing* other = model->listing(work.id, QStringLiteral("other"));
    waitFor([&] { return other->phase().kind == Kind::idle; });
    model->navigate(work.id, 0);
    model->open(folderItem(work.id, QStringLiteral("other"), QStringLiteral("Other")));
    waitLoaded();
    EXPECT_EQ(content().state(), State::table);
    EXPECT_EQ(content().tableModel()->rowCount(), 2);
}

TEST_F(FolderTableTest, SpaceDrivesTheQuickLookPanelAsTheSelectionSays) {
    start({work});
    drive->addItem(folderItem(work.id, QStringLiteral("dir"), QStringLiteral("Folder")));
    drive->addFiles(work.id, std::nullopt, 2);
    showPane(work);
    waitLoaded();
    FolderTableView* table = content().table();
    table->setFocus();

    // Nothing selected, panel hidden: not used (the table's own handling goes on).
    EXPECT_FALSE(content().handleSpace());
    // A folder: used, nothing shown.
    selectRows({0});
    quickLook.calls.clear();
    QTest::keyClick(table, Qt::Key_Space);
    EXPECT_TRUE(quickLook.calls.isEmpty());
    EXPECT_TRUE(content().handleSpace());
    // A file: shown; Space again closes; Escape closes an open panel too.
    selectRows({1});
    QTest::keyClick(table, Qt::Key_Space);
    ASSERT_TRUE(quickLook.visible);
    EXPECT_EQ(quickLook.shown->ref, content().tableModel()->item(1).ref);
    QTest::keyClick(table, Qt::Key_Space);
    EXPECT_FALSE(quickLook.visible);
    QTest::keyClick(table, Qt::Key_Space);
    QTest::keyClick(table, Qt::Key_Escape);
    EXPECT_FALSE(quickLook.visible);
    // With a modifier Space is not ours.
    QTest::keyClick(table, Qt::Key_Space, Qt::ShiftModifier);
    EXPECT_FALSE(quickLook.visible);

    // Selection changes make the panel follow; the panel's full preview carries the folder.
    QTest::keyClick(table, Qt::Key_Space);
    selectRows({2});
    EXPECT_EQ(quickLook.calls.last(),
              QStringLiteral("follow ") + content().tableModel()->item(2).name);
    quickLook.lastOpenFull(content().tableModel()->item(2));
    ASSERT_EQ(previews.size(), 1);
    EXPECT_EQ(previews.last().folderID, std::nullopt);

    // The table leaving (a filter with no match) closes the panel.
    content().setFilter(FileCategory::videos);
    EXPECT_FALSE(quickLook.visible);
}

TEST_F(FolderTableTest, ColumnsShowTheirTextsWholeAndNameTakesTheRest) {
    start({work});
    // Kinds with long descriptions next to short ones, sizes of every unit, dates with
    // two-digit days and hours.
    const std::pair<const char*, const char*> files[] = {
        {"Slides.pptx",
         "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
        {"Budget.xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
        {"Letter.docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
        {"main.cpp", "text/x-c++src"},
        {"Notes.txt", "text/plain"},
        {"Design", "application/vnd.google-apps.document"},
        {"movie.mp4", "video/mp4"},
    };
    const qint64 sizes[] = {999,           1023 * 1024 - 1,     1000 * 1024 * 1024 - 1,
                            999LL << 30,   (1000LL << 40) - 1,  12,
                            1536};
    int day = 10;
    const qint64* size = sizes;
    for (const auto& [name, type] : files) {
        FileItem item = typedItem(work.id, QString::fromLatin1(name), QString::fromLatin1(name),
                                  QString::fromLatin1(type), std::nullopt, *size++);
        item.modifiedAt = QDateTime(QDate(2026, 9, day++), QTime(22, 59), QTimeZone::utc());
        drive->addItem(item);
    }
    drive->addItem(folderItem(work.id, QStringLiteral("dir"), QStringLiteral("Folder")));
    using Columns = FolderTableModel;
    const int others[] = {Columns::modifiedColumn, Columns::sizeColumn, Columns::kindColumn};

    // The detail pane of the main window at its default size of 1100 by 700.
    showPane(work, QSize(876, 640));
    waitLoaded();
    FolderTableView* table = content().table();
    const int width = table->viewport()->width();
    int sum = 0;
    for (int column = 0; column < Columns::columnCount_; ++column)
        sum += table->columnWidth(column);
    EXPECT_EQ(sum, width) << "the columns fill the table";
    EXPECT_GE(table->columnWidth(Columns::nameColumn), 340);
    for (int column : others) {
        SCOPED_TRACE(column);
        EXPECT_LE(static_cast<QAbstractItemView*>(table)->sizeHintForColumn(column), table->columnWidth(column))
            << "a text of the column is cut";
    }

    // The narrowest window: "Name" keeps its 200 pixels, the others give up room down to
    // their minimums and the columns still fill the table.
    pane->resize(596, 500);
    QCoreApplication::processEvents();
    EXPECT_EQ(table->columnWidth(Columns::nameColumn), 200);
    sum = 0;
    for (int column = 0; column < Columns::columnCount_; ++column)
        sum += table->columnWidth(column);
    EXPECT_EQ(sum, table->viewport()->width());
    EXPECT_GE(table->columnWidth(Columns::modifiedColumn), 120);
    EXPECT_GE(table->columnWidth(Columns::sizeColumn), 60);
    EXPECT_GE(table->columnWidth(Columns::kindColumn), 70);

    // Wide again: back to the preferred widths. A column the user drags keeps its width
    // through resizes of the window; "Name" takes the difference.
    pane->resize(876, 640);
    QCoreApplication::processEvents();
    EXPECT_LE(static_cast<QAbstractItemView*>(table)->sizeHintForColumn(Columns::kindColumn),
              table->columnWidth(Columns::kindColumn));
    table->horizontalHeader()->resizeSection(Columns::kindColumn, 260);
    pane->resize(1000, 640);
    QCoreApplication::processEvents();
    EXPECT_EQ(table->columnWidth(Columns::kindColumn), 260);
    sum = 0;
    for (int column = 0; column < Columns::columnCount_; ++column)
        sum += table->columnWidth(column);
    EXPECT_EQ(sum, table->viewport()->width());
}

TEST_F(FolderTableTest, DoubleClickOpensFoldersAndPreviewsWithTheFolderAndFilter) {
    start({work});
    drive->addItem(folderItem(work.id, QStringLiteral("dir"), QStringLiteral("Trips")));
    drive->addItem(typedItem(work.id, QStringLiteral("p1"), QStringLiteral("a.jpg"),
                             QStringLiteral("image/jpeg"), QStringLiteral("dir")));
    drive->addItem(typedItem(work.id, QStringLiteral("p2"), QStringLiteral("b.jpg"),
                             QStringLiteral("image/jpeg"), QStringLiteral("dir")));
    showPane(work);
    waitLoaded();
    QTest::mouseClick(content().table()->viewport(), Qt::LeftButton, {}, rowPoint(0));
    QTest::mouseDClick(content().table()->viewport(), Qt::LeftButton, {}, rowPoint(0));
    ASSERT_EQ(pane->path().size(), 1);
    EXPECT_EQ(pane->path().first().id, QStringLiteral("dir"));
    QCoreApplication::processEvents();
    waitLoaded();

    content().setFilter(FileCategory::photos);
    QTest::mouseClick(content().table()->viewport(), Qt::LeftButton, {}, rowPoint(1));
    QTest::mouseDClick(content().table()->viewport(), Qt::LeftButton, {}, rowPoint(1));
    ASSERT_EQ(previews.size(), 1);
    EXPECT_EQ(previews.first(),
              (PreviewTarget{FileRef{work.id, QStringLiteral("p2")}, QStringLiteral("dir"),
                             FileCategory::photos, std::nullopt}));

    // Two rows selected: nothing happens.
    selectRows({0, 1});
    content().primaryAction(content().selection());
    EXPECT_EQ(previews.size(), 1);
}

TEST_F(FolderTableTest, UploadStatusCountsJobsIntoThisFolderAndOpensThePopover) {
    start({work});
    drive->addFiles(work.id, std::nullopt, 1);
    showPane(work);
    waitLoaded();
    auto* upload = child<UploadStatusButton>(pane.get(), QStringLiteral("uploadStatus"));
    EXPECT_FALSE(upload->isVisible());

    model->uploads()->setMaxConcurrentUploads(0); // the jobs stay queued
    model->upload({localFile("empty.txt", 0), localFile("notes.txt", 99)},
                  model->destination(work.id, std::nullopt));
    model->upload(
        {localFile("elsewhere.txt", 5)},
        UploadDestination{work.id, QStringLiteral("other"), QStringLiteral("Work › Other")});
    EXPECT_TRUE(upload->isVisible());
    EXPECT_EQ(upload->text(), QStringLiteral("Uploading 2 files"));
    EXPECT_EQ(upload->percentText(), QStringLiteral("0%"));
    QTest::mouseClick(upload, Qt::LeftButton);
    EXPECT_TRUE(model->isUploadsPopoverShown());
    model->uploads()->cancelAll();
    EXPECT_FALSE(upload->isVisible());
}

// The status takes the room the line has: the whole name where it fits, its beginning and an
// ellipsis (the whole text in the tool tip) where it does not.
TEST_F(FolderTableTest, UploadStatusShowsTheWholeNameWhereTheLineHasRoom) {
    start({work});
    showPane(work);
    waitLoaded();
    model->uploads()->setMaxConcurrentUploads(0);
    model->upload({localFile("field-survey.bin", 10)}, model->destination(work.id, std::nullopt));
    auto* upload = child<UploadStatusButton>(pane.get(), QStringLiteral("uploadStatus"));
    waitFor([&] { return upload->isVisible(); });
    QApplication::processEvents();
    EXPECT_EQ(upload->text(), QStringLiteral("Uploading field-survey.bin"));
    EXPECT_EQ(upload->shownText(), upload->text());
    EXPECT_EQ(upload->toolTip(), QStringLiteral("Show uploads"));

    upload->resize(upload->minimumSizeHint());
    // Shortened in the middle: the start of the status and the end of the name stay.
    const QString shown = upload->shownText();
    const qsizetype cut = shown.indexOf(QChar(0x2026));
    ASSERT_GT(cut, 0) << shown.toStdString();
    EXPECT_TRUE(upload->text().startsWith(shown.left(cut))) << shown.toStdString();
    EXPECT_TRUE(upload->text().endsWith(shown.mid(cut + 1))) << shown.toStdString();
    EXPECT_LT(cut, shown.size() - 1) << shown.toStdString();
    EXPECT_EQ(upload->toolTip(), upload->text());
    model->uploads()->cancelAll();
}

TEST_F(FolderTableTest, UploadProgressCountsAnEmptyFileAsOneByte) {
    auto controlled = std::make_shared<ControlledUploadProvider>();
    drive = controlled;
    start({work});
    showPane(work);
    waitLoaded();
    model->upload({localFile("empty.txt", 0), localFile("notes.txt", 99)},
                  model->destination(work.id, std::nullopt));
    auto notes = controlled->waitForCall(QStringLiteral("notes.txt"));
    auto empty = controlled->waitForCall(QStringLiteral("empty.txt"));
    ASSERT_TRUE(notes && empty);
    notes->progress(50);
    auto* upload = child<UploadStatusButton>(pane.get(), QStringLiteral("uploadStatus"));
    waitFor([&] { return upload->percentText() == QStringLiteral("50%"); });
    EXPECT_EQ(upload->text(), QStringLiteral("Uploading 2 files"));
    notes->succeed();
    empty->succeed();
    waitFor([&] { return !model->uploads()->hasActiveUploads(); });
    EXPECT_FALSE(upload->isVisible());
    // The finished uploads joined the shown folder.
    waitFor([&] { return content().tableModel()->rowCount() == 2; });
}
