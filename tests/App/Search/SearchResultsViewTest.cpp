// The search results pane against the real model and search engine over fakes: what it shows
// for each state of the search, the results table, the status bar, and what double-click,
// Return, Space, Escape and the context menu do.
#include "App/Search/SearchResultsView.h"
#include "App/Browser/ItemMenu.h"
#include "App/DesignSystem/Format.h"
#include "App/Preview/QuickLook.h"
#include "App/Search/SearchResultsModel.h"
#include "StorageCore/Files/FileSearch.h"
#include "tests/App/Model/AppModelFixture.h"
#include "tests/App/Preview/RecordingQuickLook.h"
#include "tests/support/UrlRecorder.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTextDocument>

using namespace tw;
using namespace tw::test;
using Code = StorageError::Code;
using Op = FakeStorageProvider::Op;
using Content = SearchResultsView::Content;

namespace {

class SearchResultsViewTest : public AppModelFixture {
protected:
    void SetUp() override {
        AppModelFixture::SetUp();
        work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
        chats = storedAccount(ProviderKind::telegram, QStringLiteral("R&D <b>x</b>"), 1);
        storeAccounts({work, chats});
    }
    /// Adds a file to the account's back end; day gives it a date in March 2025.
    FileItem add(const StorageAccount& account, const QString& id, const QString& name,
                 std::optional<qint64> day = std::nullopt, std::optional<QUrl> web = std::nullopt,
                 std::optional<qint64> size = 1) {
        FileItem item = fileItem(account.id, id, name, std::nullopt, day);
        item.webViewURL = web;
        item.sizeBytes = size;
        (account.provider == ProviderKind::telegram ? telegram : drive)->addItem(item);
        return item;
    }
    /// Runs a search the way the field's task does, and waits for its end.
    void search(AppModel& app, const QString& text) {
        app.setSearchText(text);
        QList<QUuid> ids;
        for (const StorageAccount& a : app.accounts()->accounts())
            if (a.status == StorageAccount::Status::connected)
                ids.append(a.id);
        app.search()->search(text, ids);
        waitFor([&] { return app.search()->phase() == FileSearch::Phase::done; });
    }
    std::unique_ptr<SearchResultsView> makeView(AppModel& app) {
        auto view = std::make_unique<SearchResultsView>(
            app, quickLook, [this](const PreviewTarget& t) { previews.append(t); });
        view->resize(900, 500);
        return view;
    }
    /// Selects the rows (by name) as the user would, replacing the selection.
    static void select(SearchResultsView& view, const QStringList& names) {
        QTableView* table = view.table();
        table->clearSelection();
        for (const QString& name : names) {
            const auto& items = view.resultsModel()->items();
            for (qsizetype row = 0; row < items.size(); ++row)
                if (items[row].name == name)
                    table->selectionModel()->select(table->model()->index(int(row), 0),
                                                    QItemSelectionModel::Select |
                                                        QItemSelectionModel::Rows);
        }
    }
    static QPoint rowCenter(SearchResultsView& view, int row) {
        return view.table()->visualRect(view.table()->model()->index(row, 0)).center();
    }
    static QStringList visibleEntries(QMenu* menu) {
        QStringList names;
        for (QAction* action : menu->actions())
            if (action->isVisible())
                names.append(action->text());
        return names;
    }
    QString cell(SearchResultsView& view, int row, int column, int role = Qt::DisplayRole) {
        return view.table()->model()->index(row, column).data(role).toString();
    }
    RecordingQuickLook quickLook;
    QList<PreviewTarget> previews;
    StorageAccount work;
    StorageAccount chats;
};

TEST_F(SearchResultsViewTest, ThePaneShowsWhyThereIsNothingOrThatItIsSearching) {
    AppModel& app = build();
    add(work, QStringLiteral("1"), QStringLiteral("report.pdf"));
    auto view = makeView(app);
    EXPECT_EQ(view->windowTitle(), QStringLiteral("Search"));
    EXPECT_EQ(view->findChild<QLabel*>(QStringLiteral("searchSubtitle"))->text(),
              QStringLiteral("All Accounts"));

    // A search that has not answered yet.
    auto gate = drive->gateNext(Op::search);
    app.setSearchText(QStringLiteral("report"));
    app.search()->search(QStringLiteral("report"), {work.id, chats.id});
    auto* progress = view->findChild<QWidget*>(QStringLiteral("searchProgress"));
    ASSERT_NE(progress, nullptr);
    EXPECT_EQ(view->content(), Content::searching);
    EXPECT_EQ(view->statusText(), QStringLiteral("Searching 2 accounts\u2026"));
    EXPECT_FALSE(progress->isHidden());
    gate->release();
    waitFor([&] { return app.search()->phase() == FileSearch::Phase::done; });
    EXPECT_EQ(view->content(), Content::table);
    EXPECT_EQ(view->statusText(), QStringLiteral("1 file in 2 accounts"));
    EXPECT_TRUE(progress->isHidden());

    // A newer search keeps the earlier results in the table until its own arrive.
    gate = drive->gateNext(Op::search);
    app.search()->search(QStringLiteral("report "), {work.id, chats.id});
    EXPECT_EQ(view->content(), Content::table);
    EXPECT_EQ(view->statusText(), QStringLiteral("1 file in 2 accounts"));
    EXPECT_FALSE(progress->isHidden());
    gate->release();
    waitFor([&] { return app.search()->phase() == FileSearch::Phase::done; });

    // No match: the engine's trimmed query between typographic quotes, as plain text.
    search(app, QStringLiteral("  <b>x</b> & y  "));
    EXPECT_EQ(view->content(), Content::noMatches);
    auto* noMatches = view->findChild<QWidget*>(QStringLiteral("searchNoMatches"));
    QStringList texts;
    for (QLabel* label : noMatches->findChildren<QLabel*>()) {
        if (label->pixmap().isNull()) {
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
            texts.append(label->text());
        }
    }
    EXPECT_EQ(texts,
              (QStringList{QStringLiteral("No Files Named \u201C<b>x</b> & y\u201D"),
                           QStringLiteral("Kelvanor searches file names. Telegram searches Saved "
                                          "Messages and the channels you own.")}));
    EXPECT_EQ(view->statusText(), QStringLiteral("0 files in 2 accounts"));

    // No connected account in the chosen scope: nothing to search, whatever the engine holds.
    app.setSearchScope(SearchScope::telegram);
    app.accounts()->markReauthRequired(chats.id);
    EXPECT_EQ(view->content(), Content::nothingToSearch);
    EXPECT_EQ(view->findChild<QLabel*>(QStringLiteral("searchSubtitle"))->text(),
              QStringLiteral("Telegram"));
}

TEST_F(SearchResultsViewTest, TheTableListsTheResultsInRankOrderWithTheirColumns) {
    AppModel& app = build();
    add(work, QStringLiteral("1"), QStringLiteral("Plan <b>x</b>.txt"), 3, std::nullopt,
        1536 * 1024);
    const FileItem newer = add(chats, QStringLiteral("2"), QStringLiteral("R&D plan.txt"), 9,
                               std::nullopt, std::nullopt);
    add(work, QStringLiteral("3"), QStringLiteral("plan notes.txt")); // undated: last
    auto view = makeView(app);
    QAbstractItemModelTester tester(view->resultsModel(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    search(app, QStringLiteral("plan"));

    QAbstractItemModel* table = view->table()->model();
    ASSERT_EQ(table->rowCount(), 3);
    EXPECT_FALSE(view->table()->isSortingEnabled());
    QStringList headers;
    for (int c = 0; c < table->columnCount(); ++c)
        headers.append(table->headerData(c, Qt::Horizontal).toString());
    EXPECT_EQ(headers, (QStringList{QStringLiteral("Name"), QStringLiteral("Account"),
                                    QStringLiteral("Date Modified"), QStringLiteral("Size")}));
    // The engine's order, newest first; names as written, never as markup.
    EXPECT_EQ(cell(*view, 0, 0), QStringLiteral("R&D plan.txt"));
    EXPECT_EQ(cell(*view, 1, 0), QStringLiteral("Plan <b>x</b>.txt"));
    EXPECT_EQ(cell(*view, 2, 0), QStringLiteral("plan notes.txt"));
    EXPECT_FALSE(table->index(0, 0).data(Qt::DecorationRole).value<QIcon>().isNull());

    EXPECT_EQ(cell(*view, 0, 1), chats.alias);
    EXPECT_EQ(cell(*view, 1, 1), QStringLiteral("Work"));
    EXPECT_FALSE(table->index(0, 1).data(Qt::DecorationRole).value<QPixmap>().isNull());
    // The tooltip is rich text made from the plain detail: the alias and e-mail as written.
    const QString tip = cell(*view, 0, 1, Qt::ToolTipRole);
    EXPECT_TRUE(Qt::mightBeRichText(tip));
    QTextDocument doc;
    doc.setHtml(tip);
    EXPECT_EQ(doc.toPlainText(), QStringLiteral("Telegram \u00B7 ") + chats.email);

    EXPECT_EQ(cell(*view, 0, 2), Format::modified(newer.modifiedAt));
    EXPECT_EQ(cell(*view, 2, 2), QStringLiteral("--"));
    EXPECT_EQ(cell(*view, 0, 3), QStringLiteral("--"));
    EXPECT_EQ(cell(*view, 1, 3), QStringLiteral("1.5 MB"));
    EXPECT_EQ(table->index(1, 3).data(Qt::TextAlignmentRole).toInt(),
              int(Qt::AlignRight | Qt::AlignVCenter));

    // An account removed meanwhile leaves its results with an empty Account cell.
    bool removed = false;
    app.disconnect(chats.id, [&] { removed = true; });
    waitFor([&] { return removed; });
    EXPECT_EQ(cell(*view, 0, 1), QString());
    EXPECT_FALSE(table->index(0, 1).data(Qt::DecorationRole).isValid());
    EXPECT_EQ(cell(*view, 0, 1, Qt::ToolTipRole), QString());
}

TEST_F(SearchResultsViewTest, TheAccountBadgeRingFollowsAPaletteChange) {
    AppModel& app = build();
    add(work, QStringLiteral("1"), QStringLiteral("plan.txt"));
    auto view = makeView(app);
    view->show();
    search(app, QStringLiteral("plan"));
    ASSERT_EQ(view->table()->model()->rowCount(), 1);
    // Whether the badge's ring (opaque pixels of exactly this colour) is in the decoration.
    const auto ringIn = [&](const QColor& window) {
        const QImage image = view->table()
                                 ->model()
                                 ->index(0, SearchResultsModel::AccountColumn)
                                 .data(Qt::DecorationRole)
                                 .value<QPixmap>()
                                 .toImage();
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixelColor(x, y) == window)
                    return true;
        return false;
    };
    const QPalette original = QApplication::palette();
    const QColor first(0xFF, 0x00, 0xFF);
    const QColor second(0x00, 0xFF, 0x80);
    QPalette palette = original;
    palette.setColor(QPalette::Window, first);
    QApplication::setPalette(palette);
    EXPECT_TRUE(ringIn(first));
    palette.setColor(QPalette::Window, second);
    QApplication::setPalette(palette);
    EXPECT_TRUE(ringIn(second));
    EXPECT_FALSE(ringIn(first));
    QApplication::setPalette(original);
}

TEST_F(SearchResultsViewTest, ASelectionOutlivesNewResultsAndATrashedRowLeavesAsARemoval) {
    AppModel& app = build();
    for (int i = 0; i < 5; ++i)
        add(work, QString::number(i), QStringLiteral("memo %1.txt").arg(i), 10 + i);
    auto view = makeView(app);
    QAbstractItemModelTester tester(view->resultsModel(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    search(app, QStringLiteral("memo"));
    select(*view, {QStringLiteral("memo 2.txt")});

    // A newer search that still finds the selected file keeps it selected.
    add(work, QStringLiteral("9"), QStringLiteral("memo 9.txt"), 20);
    search(app, QStringLiteral("memo "));
    ASSERT_EQ(view->resultsModel()->rowCount(), 6);
    EXPECT_EQ(view->selection(), (QSet<FileRef>{FileRef{work.id, QStringLiteral("2")}}));

    QSignalSpy removals(view->resultsModel(), &QAbstractItemModel::rowsRemoved);
    QSignalSpy resets(view->resultsModel(), &QAbstractItemModel::modelReset);
    const FileItem trashed = view->resultsModel()->item(0);
    app.trash(trashed, std::nullopt);
    waitFor([&] { return view->resultsModel()->rowCount() == 5; });
    EXPECT_EQ(removals.size(), 1);
    EXPECT_EQ(resets.size(), 0);
    EXPECT_EQ(view->selection(), (QSet<FileRef>{FileRef{work.id, QStringLiteral("2")}}));
}

TEST_F(SearchResultsViewTest, DoubleClickAndReturnOpenThePreviewOfTheSearch) {
    AppModel& app = build();
    const FileItem report = add(work, QStringLiteral("1"), QStringLiteral("report.pdf"), 4);
    add(chats, QStringLiteral("2"), QStringLiteral("report 2.pdf"), 2);
    auto view = makeView(app);
    view->show();
    search(app, QStringLiteral("  report "));

    // A double-click arrives as a click and then a second press.
    QTest::mouseClick(view->table()->viewport(), Qt::LeftButton, {}, rowCenter(*view, 0));
    QTest::mouseDClick(view->table()->viewport(), Qt::LeftButton, {}, rowCenter(*view, 0));
    ASSERT_EQ(previews.size(), 1);
    PreviewTarget expected;
    expected.file = report.ref;
    expected.searchQuery = QStringLiteral("report"); // the engine's query, trimmed
    EXPECT_EQ(previews[0], expected);
    EXPECT_FALSE(previews[0].folderID.has_value());
    EXPECT_FALSE(previews[0].filter.has_value());

    view->table()->setFocus();
    QTest::keyClick(view->table(), Qt::Key_Return);
    EXPECT_EQ(previews.size(), 2);

    // Two rows: neither key nor the menu acts.
    select(*view, {QStringLiteral("report.pdf"), QStringLiteral("report 2.pdf")});
    QTest::keyClick(view->table(), Qt::Key_Enter);
    EXPECT_EQ(previews.size(), 2);
    EXPECT_EQ(view->contextMenu(rowCenter(*view, 0)), nullptr);
}

TEST_F(SearchResultsViewTest, SpaceAndEscapeDriveTheQuickLookPanel) {
    AppModel& app = build();
    add(work, QStringLiteral("1"), QStringLiteral("a.txt"), 4);
    add(work, QStringLiteral("2"), QStringLiteral("b.txt"), 3);
    auto view = makeView(app);
    view->show();
    search(app, QStringLiteral("txt"));
    QTableView* table = view->table();
    table->setFocus();
    quickLook.calls.clear();

    // Nothing selected and the panel hidden: Space is not taken.
    EXPECT_FALSE(view->space());
    QTest::keyClick(table, Qt::Key_Escape);
    EXPECT_TRUE(quickLook.calls.isEmpty());

    select(*view, {QStringLiteral("a.txt")});
    EXPECT_EQ(quickLook.calls, QStringList{QStringLiteral("follow a.txt")});
    QTest::keyClick(table, Qt::Key_Space);
    EXPECT_TRUE(quickLook.visible);
    EXPECT_EQ(quickLook.calls.last(), QStringLiteral("show a.txt"));
    // The panel's full-view button opens the search's preview window.
    quickLook.lastOpenFull(*quickLook.shown);
    ASSERT_EQ(previews.size(), 1);
    EXPECT_EQ(previews[0].searchQuery, QStringLiteral("txt"));

    // An open panel follows the selection; a held-down Space does not toggle it.
    select(*view, {QStringLiteral("b.txt")});
    EXPECT_EQ(quickLook.shown->name, QStringLiteral("b.txt"));
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
    QApplication::sendEvent(table, &repeat);
    EXPECT_TRUE(quickLook.visible);
    QTest::keyClick(table, Qt::Key_Space);
    EXPECT_FALSE(quickLook.visible);
    QTest::keyClick(table, Qt::Key_Space);
    EXPECT_TRUE(quickLook.visible);
    QTest::keyClick(table, Qt::Key_Escape);
    EXPECT_FALSE(quickLook.visible);

    // Two rows: the panel is told there is nothing single to show; Space on it is not taken
    // while the panel is hidden, and closes it while it is open.
    select(*view, {QStringLiteral("a.txt"), QStringLiteral("b.txt")});
    EXPECT_EQ(quickLook.calls.last(), QStringLiteral("follow -"));
    EXPECT_FALSE(view->space());
    quickLook.visible = true;
    EXPECT_TRUE(view->space());
    EXPECT_FALSE(quickLook.visible);

    // The pane going away closes the panel.
    quickLook.visible = true;
    view->hide();
    EXPECT_FALSE(quickLook.visible);
    quickLook.visible = true;
    view.reset();
    EXPECT_FALSE(quickLook.visible);
}

TEST_F(SearchResultsViewTest, TheContextMenuOffersWhatSuitsTheOneItemUnderIt) {
    AppModel& app = build();
    const QUrl web(QStringLiteral("https://drive.example.com/file/d/1/view"));
    add(work, QStringLiteral("1"), QStringLiteral("web.pdf"), 9, web);
    add(work, QStringLiteral("2"), QStringLiteral("plain.pdf"), 8);
    add(work, QStringLiteral("3"), QStringLiteral("local.pdf"), 7,
        QUrl(QStringLiteral("file:///etc/passwd")));
    add(work, QStringLiteral("4"), QStringLiteral("script.pdf"), 6,
        QUrl(QStringLiteral("javascript:alert(1)")));
    add(work, QStringLiteral("5"), QStringLiteral("custom.pdf"), 5,
        QUrl(QStringLiteral("tg://resolve?domain=x")));
    auto view = makeView(app);
    view->show();
    search(app, QStringLiteral("pdf"));
    ASSERT_EQ(view->resultsModel()->rowCount(), 5);

    const QStringList full{QStringLiteral("Quick Look"), QStringLiteral("Open Preview"),
                           QStringLiteral("Download\u2026"), QStringLiteral("Open With\u2026"),
                           QStringLiteral("Open in Browser")};
    const QStringList noBrowser = full.mid(0, 4);
    const QStringList expected[] = {full, noBrowser, noBrowser, noBrowser, noBrowser};
    for (int row = 0; row < 5; ++row) {
        SCOPED_TRACE(row);
        QMenu* menu = view->contextMenu(rowCenter(*view, row));
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(visibleEntries(menu), expected[row]);
        // The row under the pointer became the selection.
        EXPECT_EQ(view->selection(), QSet<FileRef>{view->resultsModel()->item(row).ref});
    }
    EXPECT_EQ(view->contextMenu(QPoint(5, view->table()->viewport()->height() - 2)), nullptr);

    // The actions act on the item under the menu.
    UrlRecorder recorder;
    for (const char* scheme : {"http", "https", "file", "javascript", "tg"})
        QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &recorder, "open");
    const auto trigger = [&](int row, const char* name) {
        QMenu* menu = view->contextMenu(rowCenter(*view, row));
        ASSERT_NE(menu, nullptr);
        auto* action = menu->findChild<QAction*>(QString::fromLatin1(name));
        ASSERT_NE(action, nullptr) << name;
        action->trigger();
    };
    trigger(0, "searchOpenInBrowser");
    // Not offered where the address is not a web page.
    for (int row : {2, 3}) {
        QMenu* menu = view->contextMenu(rowCenter(*view, row));
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu->findChild<QAction*>(QStringLiteral("searchOpenInBrowser")), nullptr);
    }
    EXPECT_EQ(recorder.opened, QList<QUrl>{web});
    for (const char* scheme : {"http", "https", "file", "javascript", "tg"})
        QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));

    trigger(1, "searchDownload");
    trigger(1, "searchOpenWith");
    EXPECT_EQ(panels->asked,
              (QStringList{QStringLiteral("save | plain.pdf"),
                           QStringLiteral("app | Choose an app to open \u201Cplain.pdf\u201D.")}));
    trigger(1, "searchOpenPreview");
    ASSERT_EQ(previews.size(), 1);
    EXPECT_EQ(previews[0].file, (FileRef{work.id, QStringLiteral("2")}));
    trigger(1, "searchQuickLook");
    EXPECT_TRUE(quickLook.visible);
    trigger(1, "searchQuickLook");
    EXPECT_FALSE(quickLook.visible);
}

TEST_F(SearchResultsViewTest, FoldersAreNeitherDownloadedNorOpenedWithAnotherApplication) {
    using Entry = ItemMenu::Entry;
    FileItem folder = folderItem(work.id, QStringLiteral("f"), QStringLiteral("Plans"));
    folder.webViewURL = QUrl(QStringLiteral("https://drive.example.com/drive/folders/f"));
    EXPECT_EQ(ItemMenu::resultEntries(folder),
              (QList<Entry>{Entry::quickLook, Entry::openPreview, Entry::openInBrowser}));
    FileItem file = fileItem(work.id, QStringLiteral("1"), QStringLiteral("a.txt"));
    file.webViewURL = QUrl(QStringLiteral("HTTP://example.com/a"));
    EXPECT_EQ(ItemMenu::resultEntries(file),
              (QList<Entry>{Entry::quickLook, Entry::openPreview, Entry::download,
                            Entry::openWith, Entry::openInBrowser}));
    for (const char* address : {"file:///home", "https://", "ftp://example.com/a", "about:blank",
                                "data:text/html,<b>x</b>", "/relative/path"}) {
        SCOPED_TRACE(address);
        file.webViewURL = QUrl(QString::fromLatin1(address));
        EXPECT_FALSE(ItemMenu::webLink(file).has_value());
    }
}

TEST_F(SearchResultsViewTest, TheStatusBarNamesAFailingAccountAndOffersToReconnect) {
    AppModel& app = build();
    add(work, QStringLiteral("1"), QStringLiteral("budget.xlsx"), 3);
    telegram->failNext(Op::search, StorageError(Code::reauthRequired));
    auto view = makeView(app);
    view->show();
    search(app, QStringLiteral("budget"));
    EXPECT_EQ(view->content(), Content::table);
    EXPECT_EQ(view->statusText(), QStringLiteral("1 file in 2 accounts"));
    auto* error = view->findChild<QWidget*>(QStringLiteral("searchError"));
    auto* reconnect = view->findChild<QPushButton*>(QStringLiteral("searchReconnect"));
    ASSERT_TRUE(error && reconnect);
    EXPECT_TRUE(error->isVisible());
    QLabel* text = nullptr;
    for (QLabel* label : error->findChildren<QLabel*>())
        if (!label->text().isEmpty())
            text = label;
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->textFormat(), Qt::PlainText);
    EXPECT_EQ(text->text(), QStringLiteral("Couldn't search ") + chats.alias +
                                QStringLiteral(": ") +
                                StorageError(Code::reauthRequired).presentation().title);
    EXPECT_TRUE(reconnect->isVisible());
    telegram->setConnection(connection(chats.providerAccountID, ProviderKind::telegram));
    reconnect->click();
    EXPECT_TRUE(app.isConnecting());
    app.cancelConnection();

    // Another failure names the account without the button.
    drive->failNext(Op::search, StorageError(Code::offline));
    search(app, QStringLiteral("budget "));
    EXPECT_TRUE(error->isVisible());
    EXPECT_TRUE(text->text().startsWith(QStringLiteral("Couldn't search Work: ")));
    EXPECT_FALSE(reconnect->isVisible());

    // Without failures the status bar holds only the counts.
    search(app, QStringLiteral("budget"));
    EXPECT_FALSE(error->isVisible());
    EXPECT_FALSE(reconnect->isVisible());
}

TEST(SearchStatusTextTest, CountsFilesAndAccounts) {
    using Phase = FileSearch::Phase;
    struct Case {
        qsizetype accounts, files;
        Phase phase;
        const char* text;
    };
    const Case cases[] = {
        {1, 1, Phase::done, "1 file in 1 account"},
        {3, 12, Phase::done, "12 files in 3 accounts"},
        {3, 0, Phase::searching, "Searching 3 accounts\u2026"},
        {1, 0, Phase::searching, "Searching 1 account\u2026"},
        {2, 5, Phase::searching, "5 files in 2 accounts"}, // earlier results stay meanwhile
        {0, 0, Phase::idle, "0 files in 0 accounts"},
        {2, 0, Phase::done, "0 files in 2 accounts"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SearchResultsView::statusText(c.accounts, c.files, c.phase),
                  QString::fromUtf8(c.text));
}

} // namespace
