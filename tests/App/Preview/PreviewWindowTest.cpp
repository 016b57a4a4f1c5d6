// Preview windows against the real model over fakes: one window per target, the file list of
// a folder or a search, stepping with the toolbar and the keys, the subtitle, the unavailable
// state, the toolbar per kind with the PDF search, and the content view's states.
#include "App/Preview/PreviewWindow.h"
#include "App/DesignSystem/ElidedLabel.h"
#include "App/DesignSystem/ContentUnavailableView.h"
#include "App/DesignSystem/Format.h"
#include "App/DesignSystem/WindowPlacement.h"
#include "App/Preview/ArchiveViewer.h"
#include "App/Preview/ImageController.h"
#include "App/Preview/ImageViewer.h"
#include "App/Preview/PDFController.h"
#include "App/Preview/PDFViewer.h"
#include "App/Preview/PreviewContentView.h"
#include "App/Preview/PreviewShare.h"
#include "App/Preview/PreviewWindowRegistry.h"
#include "App/Preview/QuickLookPanel.h"
#include "App/Preview/QuickLookViewer.h"
#include "StorageCore/Files/FileSearch.h"
#include "StorageCore/Persistence/SettingsStore.h"
#include "tests/App/Preview/PreviewFixtures.h"
#include "tests/support/UrlRecorder.h"

#include <QAction>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QToolBar>

using namespace tw;
using namespace tw::test;
using Op = FakeStorageProvider::Op;

namespace {

class PreviewWindowTest : public PreviewFixture {
protected:
    void SetUp() override {
        PreviewFixture::SetUp();
        build();
    }
    /// Three files and a folder at the root: a.txt, Photos/, b.png, c.pdf.
    void threeFiles() {
        a = addFile(QStringLiteral("a.txt"), QStringLiteral("text/plain"), "alpha");
        FileItem folder;
        folder.ref = FileRef{account.id, QStringLiteral("folder-1")};
        folder.name = QStringLiteral("Photos");
        folder.mimeType = FileItem::folderMimeType;
        drive->addItem(folder);
        b = addFile(QStringLiteral("b.png"), QStringLiteral("image/png"), makeImage(QSize(60, 40)));
        c = addFile(QStringLiteral("c.pdf"), QStringLiteral("application/pdf"),
                    makePDF(3, {{1, QStringLiteral("Kelvanor")}}));
        loadedListing();
    }
    PreviewTarget folderTarget(const FileItem& item,
                               std::optional<FileCategory> filter = std::nullopt) {
        return PreviewTarget{item.ref, std::nullopt, filter, std::nullopt};
    }
    std::unique_ptr<PreviewWindow> window(const PreviewTarget& target) {
        auto w = std::make_unique<PreviewWindow>(*model, target);
        w->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(w.get()));
        return w;
    }
    static QAction* action(QWidget* w, const char* name) {
        auto* found = w->findChild<QAction*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    static QString subtitleOf(PreviewWindow& w) {
        return w.findChild<ElidedLabel*>(QStringLiteral("previewSubtitle"))->fullText();
    }
    /// Sends a key press to the window's focus widget (or the window) as the user would.
    static void key(PreviewWindow& w, Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QWidget* target = QApplication::focusWidget() && QApplication::focusWidget()->window() == &w
                              ? QApplication::focusWidget()
                              : static_cast<QWidget*>(&w);
        QTest::keyClick(target, k, mods);
    }
    static bool waitReady(PreviewWindow& w) {
        return QTest::qWaitFor(
            [&] {
                return w.contentView() && w.contentView()->loader() &&
                       w.contentView()->loader()->phase().isReady();
            },
            10000);
    }
    FileItem a, b, c;
};

TEST_F(PreviewWindowTest, OneWindowPerTarget) {
    threeFiles();
    PreviewWindowRegistry registry(*model);
    registry.open(folderTarget(b));
    PreviewWindow* first = registry.window(folderTarget(b));
    ASSERT_NE(first, nullptr);
    // The default size, as far as the screen has room for it.
    EXPECT_EQ(first->size(), first->size().boundedTo(PreviewWindow::defaultSize));
    EXPECT_TRUE(WindowPlacement::availableArea(first).contains(first->frameGeometry()));
    EXPECT_TRUE(first->testAttribute(Qt::WA_DeleteOnClose));
    registry.open(folderTarget(b));
    EXPECT_EQ(registry.count(), 1);
    EXPECT_EQ(registry.window(folderTarget(b)), first);
    // The same file from a filtered table is another window.
    registry.open(folderTarget(b, FileCategory::photos));
    EXPECT_EQ(registry.count(), 2);
    EXPECT_NE(registry.window(folderTarget(b, FileCategory::photos)), first);
    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(registry.count(), 1);
    EXPECT_EQ(registry.window(folderTarget(b)), nullptr);
    registry.open(folderTarget(b));
    EXPECT_EQ(registry.count(), 2);
}

// A preview opens over the window it was opened from, whole on the screen.
TEST_F(PreviewWindowTest, OpensWholeOnScreenOverTheActiveWindow) {
    threeFiles();
    const QRect area = WindowPlacement::availableArea(nullptr);
    QWidget main;
    main.resize(300, 200);
    main.move(area.right() - 320, area.bottom() - 240);
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    QApplication::setActiveWindow(&main);
    PreviewWindowRegistry registry(*model);
    registry.open(folderTarget(a));
    PreviewWindow* shown = registry.window(folderTarget(a));
    ASSERT_NE(shown, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(shown));
    EXPECT_TRUE(area.contains(shown->frameGeometry()))
        << shown->frameGeometry().x() << "," << shown->frameGeometry().y() << " "
        << shown->frameGeometry().width() << "x" << shown->frameGeometry().height();
}

// The file's name and its place are cut at their end when the toolbar is short of room,
// whole in their tool tips, and whole again when the window widens.
TEST_F(PreviewWindowTest, LongTitlesAreCutAtTheirEndWithTheWholeTextInTheToolTip) {
    const QString name =
        QStringLiteral("Minutes of the annual general meeting of the rowing club, final.txt");
    const FileItem file = addFile(name, QStringLiteral("text/plain"), "minutes");
    loadedListing();
    // An alias as long as an alias can be, of the widest letter.
    const QString alias(40, QLatin1Char('W'));
    model->rename(account.id, alias);
    waitFor([&] { return model->accounts()->account(account.id)->alias == alias; });
    PreviewWindow w(*model, folderTarget(file));
    w.resize(PreviewWindow::minimumContentSize.width(), 500);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    auto* title = w.findChild<ElidedLabel*>(QStringLiteral("previewTitle"));
    auto* subtitle = w.findChild<ElidedLabel*>(QStringLiteral("previewSubtitle"));
    ASSERT_TRUE(title && subtitle);
    waitFor([&] { return subtitle->fullText().startsWith(alias); });
    QApplication::processEvents();
    for (ElidedLabel* label : {title, subtitle}) {
        SCOPED_TRACE(label->objectName().toStdString());
        EXPECT_TRUE(label->text().endsWith(QChar(0x2026))) << label->text().toStdString();
        EXPECT_TRUE(label->fullText().startsWith(label->text().chopped(1)));
        EXPECT_EQ(label->toolTip(), label->fullText());
    }
    EXPECT_EQ(title->fullText(), name);
}

TEST_F(PreviewWindowTest, StepsThroughTheFolderFilesWithTheToolbarAndTheArrows) {
    threeFiles();
    auto w = window(folderTarget(a));
    EXPECT_EQ(w->files().size(), 3) << "the folder is left out";
    EXPECT_EQ(w->windowTitle(), QStringLiteral("a.txt"));
    EXPECT_EQ(subtitleOf(*w), QStringLiteral("Work \u2014 1 of 3"));
    EXPECT_FALSE(action(w.get(), "previewPrevious")->isEnabled());
    EXPECT_TRUE(action(w.get(), "previewNext")->isEnabled());

    action(w.get(), "previewNext")->trigger();
    EXPECT_EQ(w->item()->name, QStringLiteral("b.png"));
    key(*w, Qt::Key_Right);
    EXPECT_EQ(w->item()->name, QStringLiteral("c.pdf"));
    EXPECT_EQ(subtitleOf(*w), QStringLiteral("Work \u2014 3 of 3"));
    EXPECT_FALSE(action(w.get(), "previewNext")->isEnabled());
    key(*w, Qt::Key_Right);
    EXPECT_EQ(w->item()->name, QStringLiteral("c.pdf")) << "no wrapping";
    key(*w, Qt::Key_Left);
    key(*w, Qt::Key_Left);
    key(*w, Qt::Key_Left);
    EXPECT_EQ(w->item()->name, QStringLiteral("a.txt"));
    // Keys with a modifier are left alone.
    key(*w, Qt::Key_Right, Qt::ShiftModifier);
    key(*w, Qt::Key_Right, Qt::ControlModifier);
    EXPECT_EQ(w->item()->name, QStringLiteral("a.txt"));
}

TEST_F(PreviewWindowTest, AFilteredWindowNeverReachesOtherCategories) {
    threeFiles();
    const FileItem d = addFile(QStringLiteral("d.jpg"), QStringLiteral("image/jpeg"),
                               makeImage(QSize(8, 8), "jpeg"));
    loadedListing();
    auto w = window(folderTarget(b, FileCategory::photos));
    EXPECT_EQ(namesOf(w->files()), (QStringList{QStringLiteral("b.png"), QStringLiteral("d.jpg")}));
    w->step(1);
    EXPECT_EQ(w->item()->name, QStringLiteral("d.jpg"));
    w->step(1);
    EXPECT_EQ(w->item()->name, QStringLiteral("d.jpg"));
}

TEST_F(PreviewWindowTest, FollowsTheLiveListingAndSaysWhenTheFileIsGone) {
    threeFiles();
    auto w = window(folderTarget(b));
    EXPECT_EQ(subtitleOf(*w), QStringLiteral("Work \u2014 2 of 3"));
    FolderListing* listing = model->listing(account.id, std::nullopt);
    // A file added before the one shown: same file, its position grows.
    const FileItem first =
        addFile(QStringLiteral("0-first.txt"), QStringLiteral("text/plain"), "0");
    listing->insert(first);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return subtitleOf(*w) == QStringLiteral("Work \u2014 3 of 4"); }, 2000))
        << subtitleOf(*w).toStdString();
    EXPECT_EQ(w->item()->name, QStringLiteral("b.png"));
    // The shown file goes: the window says so and does not move to a neighbour.
    listing->remove(b.ref);
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->showsUnavailable(); }, 2000));
    auto* title = w->findChild<QLabel*>(QStringLiteral("stateTitle"));
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->text(), QStringLiteral("This file is no longer available."));
    EXPECT_FALSE(w->findChild<QToolBar*>(QStringLiteral("previewToolbar"))->isVisible());
    key(*w, Qt::Key_Right);
    EXPECT_TRUE(w->showsUnavailable()) << "the arrows do nothing";
    QPointer<PreviewWindow> alive(w.get());
    key(*w, Qt::Key_Space);
    EXPECT_FALSE(w->isVisible()) << "Space still closes";
}

TEST_F(PreviewWindowTest, SpaceAndEscapeCloseAndEscapeLeavesFullScreenFirst) {
    threeFiles();
    auto w = window(folderTarget(a));
    key(*w, Qt::Key_Space, Qt::ShiftModifier);
    EXPECT_TRUE(w->isVisible());
    key(*w, Qt::Key_Space);
    EXPECT_FALSE(w->isVisible());

    auto full = window(folderTarget(b));
    full->showFullScreen();
    ASSERT_TRUE(full->isFullScreen());
    key(*full, Qt::Key_Escape);
    EXPECT_FALSE(full->isFullScreen());
    EXPECT_TRUE(full->isVisible());
    key(*full, Qt::Key_Escape);
    EXPECT_FALSE(full->isVisible());
}

TEST_F(PreviewWindowTest, KeysTypedInTheSearchFieldEditIt) {
    threeFiles();
    auto w = window(folderTarget(c));
    ASSERT_TRUE(waitReady(*w));
    QLineEdit* search = w->searchField();
    // The search field comes with the open document.
    ASSERT_TRUE(QTest::qWaitFor([&] { return search->isVisible(); }, 5000));
    search->setFocus();
    QTest::keyClicks(search, QStringLiteral("kel"));
    QTest::keyClick(search, Qt::Key_Space);
    QTest::keyClick(search, Qt::Key_Left);
    QTest::keyClick(search, Qt::Key_Escape);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->item()->name, QStringLiteral("c.pdf"));
    EXPECT_EQ(search->text(), QStringLiteral("kel "));
}

TEST_F(PreviewWindowTest, KeysOfOtherWindowsNeverActHere) {
    threeFiles();
    auto first = window(folderTarget(a));
    auto second = window(folderTarget(a, FileCategory::documents));
    QWidget elsewhere;
    elsewhere.show();
    QTest::keyClick(&elsewhere, Qt::Key_Right);
    QTest::keyClick(second.get(), Qt::Key_Space);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->item()->name, QStringLiteral("a.txt"));
    EXPECT_FALSE(second->isVisible());
}

TEST_F(PreviewWindowTest, PdfSearchCountsMatchesAndSteppingEndsIt) {
    threeFiles();
    auto w = window(folderTarget(c));
    ASSERT_TRUE(waitReady(*w));
    ASSERT_TRUE(QTest::qWaitFor([&] { return w->pdf()->pageCount() == 3; }, 2000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return action(w.get(), "pdfZoomIn")->isVisible(); }, 2000));
    EXPECT_FALSE(action(w.get(), "imageActualSize")->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return action(w.get(), "pdfNextPage")->isVisible(); }, 2000));
    auto* pageText = w->findChild<QLabel*>(QStringLiteral("pdfPageText"));
    EXPECT_EQ(pageText->text(), QStringLiteral("1 of 3"));
    auto* count = w->findChild<QLabel*>(QStringLiteral("previewMatchCount"));

    QLineEdit* search = w->searchField();
    search->setText(QStringLiteral("KELVANOR"));
    QTest::keyClick(search, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return count->isVisible(); }, 2000));
    EXPECT_EQ(count->text(), QStringLiteral("1 match"));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return pageText->text() == QStringLiteral("2 of 3"); }, 2000));
    search->setText(QStringLiteral("absent"));
    QTest::keyClick(search, Qt::Key_Return);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return count->text() == QStringLiteral("0 matches"); }, 2000));
    // Emptying the field ends the search without Return.
    search->clear();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !count->isVisible(); }, 2000));
    EXPECT_FALSE(w->pdf()->matchCount().has_value());

    search->setText(QStringLiteral("kelvanor"));
    QTest::keyClick(search, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w->pdf()->isSearching(); }, 5000));
    ASSERT_EQ(w->pdf()->matchCount(), 1);
    w->step(-1);
    EXPECT_EQ(w->item()->name, QStringLiteral("b.png"));
    EXPECT_TRUE(search->text().isEmpty());
    EXPECT_FALSE(w->pdf()->matchCount().has_value());
    ASSERT_TRUE(waitReady(*w));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !search->isVisible(); }, 2000));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return action(w.get(), "imageActualSize")->isVisible(); }, 2000));
    EXPECT_FALSE(action(w.get(), "pdfZoomIn")->isVisible());
    w->step(-1);
    ASSERT_TRUE(waitReady(*w));
    // The toolbar follows the shown file's kind once its viewer is up.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return !action(w.get(), "imageActualSize")->isVisible(); }, 5000));
    EXPECT_FALSE(action(w.get(), "pdfRotate")->isVisible());
}

TEST_F(PreviewWindowTest, AFailedPreviewShowsItsFailureAndOnlyTheControlsThatApply) {
    const FileItem good =
        addFile(QStringLiteral("a.pdf"), QStringLiteral("application/pdf"), makePDF(1));
    const FileItem picture =
        addFile(QStringLiteral("b.png"), QStringLiteral("image/png"), makeImage(QSize(8, 8)));
    const QByteArray garbage("a few bytes that are no file of any kind");
    const FileItem brokenPDF =
        addFile(QStringLiteral("broken.pdf"), QStringLiteral("application/pdf"), garbage);
    const FileItem failingPDF =
        addFile(QStringLiteral("failing.pdf"), QStringLiteral("application/pdf"), makePDF(2));
    const FileItem brokenImage =
        addFile(QStringLiteral("broken.png"), QStringLiteral("image/png"), garbage);
    const FileItem brokenZip =
        addFile(QStringLiteral("broken.zip"), QStringLiteral("application/zip"), garbage);
    loadedListing();
    auto w = window(folderTarget(good));
    auto* pageText = w->findChild<QLabel*>(QStringLiteral("pdfPageText"));
    const auto goTo = [&](const FileItem& item) {
        const QList<FileItem> list = w->files();
        const auto at = std::find_if(list.begin(), list.end(),
                                     [&](const FileItem& f) { return f.ref == item.ref; });
        ASSERT_NE(at, list.end());
        w->step(int(at - list.begin()) - w->index().value_or(0));
        ASSERT_EQ(w->item()->name, item.name);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                const auto kind = w->contentView()->loader()->phase().kind();
                return kind != PreviewLoader::Phase::Kind::idle &&
                       kind != PreviewLoader::Phase::Kind::loading;
            },
            10000));
    };
    const auto pdfControlsShown = [&] {
        return action(w.get(), "pdfZoomIn")->isVisible() ||
               action(w.get(), "pdfNextPage")->isVisible() || pageText->isVisible() ||
               w->searchField()->isVisible();
    };
    const auto failureTitle = [&]() -> QString {
        for (ContentUnavailableView* view : w->contentView()->findChildren<ContentUnavailableView*>()) {
            if (view->isVisible())
                return view->title();
        }
        return {};
    };
    const QString unreadable = QStringLiteral("This file couldn't be displayed.");
    struct Case {
        FileItem item;
        std::optional<StorageError> loadFailure;
        QString title;
    };
    const QList<Case> cases{
        {brokenPDF, std::nullopt, unreadable},
        {failingPDF, StorageError(StorageError::Code::network),
         StorageError(StorageError::Code::network).presentation().title},
        {brokenImage, std::nullopt, unreadable},
        {brokenZip, std::nullopt, QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item.name.toStdString());
        // From a PDF on screen, with its controls and "1 of 1"...
        goTo(good);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return pageText->isVisible() && pageText->text() == QStringLiteral("1 of 1"); },
            5000));
        ASSERT_TRUE(action(w.get(), "pdfZoomIn")->isVisible());
        // ...to a file whose preview fails: its failure shows, and no control stays behind.
        if (c.loadFailure)
            drive->failNext(Op::download, *c.loadFailure);
        goTo(c.item);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !failureTitle().isEmpty(); }, 10000));
        if (!c.title.isEmpty()) {
            EXPECT_EQ(failureTitle(), c.title);
        }
        EXPECT_TRUE(QTest::qWaitFor([&] { return !pdfControlsShown(); }, 5000));
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return !action(w.get(), "imageActualSize")->isVisible(); }, 5000));
        EXPECT_EQ(w->pdf()->pageCount(), 0);
    }
    // A good image after all this has its own controls again.
    goTo(picture);
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return action(w.get(), "imageActualSize")->isVisible(); }, 5000));
    EXPECT_FALSE(pdfControlsShown());
}

TEST_F(PreviewWindowTest, SpaceClosesAMediaFileThatCannotPlay) {
    const FileItem broken = addFile(QStringLiteral("broken.mp3"), QStringLiteral("audio/mpeg"),
                                    QByteArray("not media, a few bytes"));
    loadedListing();
    auto w = window(folderTarget(broken));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (ContentUnavailableView* view : w->contentView()->findChildren<ContentUnavailableView*>()) {
                if (view->isVisible())
                    return true;
            }
            return false;
        },
        20000));
    EXPECT_EQ(w->findChild<QWidget*>(QStringLiteral("mediaViewer")), nullptr);
    key(*w, Qt::Key_Space);
    EXPECT_FALSE(w->isVisible()) << "with no player left, Space closes the window";
}

TEST_F(PreviewWindowTest, ShareDownloadAndTheMoreMenu) {
    threeFiles();
    FolderListing* listing = model->listing(account.id, std::nullopt);
    FileItem web = b;
    web.webViewURL = QUrl(QStringLiteral("https://drive.example.com/b"));
    listing->replace(web);
    auto w = window(folderTarget(b));
    QAction* share = action(w.get(), "previewShare");
    EXPECT_TRUE(action(w.get(), "previewDownload")->isVisible());
    ASSERT_TRUE(waitReady(*w));
    ASSERT_TRUE(QTest::qWaitFor([&] { return share->isVisible(); }, 2000))
        << "ready as a local file";
    EXPECT_TRUE(action(w.get(), "moreOpenInBrowser")->isVisible());
    EXPECT_EQ(action(w.get(), "previewDownload")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
    EXPECT_TRUE(action(w.get(), "previewDownload")
                    ->toolTip()
                    .startsWith(QStringLiteral("Save a copy to this computer (")));

    panels->saveLocation = QUrl::fromLocalFile(settingsDir.filePath(QStringLiteral("copy.png")));
    action(w.get(), "previewDownload")->trigger();
    EXPECT_EQ(panels->asked.last(), QStringLiteral("save | b.png"));

    // Copy puts the file on the clipboard as a file.
    const QUrl file = w->contentView()->loader()->phase().content()->localFileURL();
    std::unique_ptr<QMimeData> data(PreviewShare::fileMimeData(file));
    EXPECT_EQ(data->urls(), QList<QUrl>{file});
    EXPECT_EQ(data->data(QStringLiteral("x-special/gnome-copied-files")),
              QByteArray("copy\n") + file.toEncoded());

    w->step(-1);
    EXPECT_FALSE(action(w.get(), "moreOpenInBrowser")->isVisible()) << "no web address";
}

TEST_F(PreviewWindowTest, OpenInBrowserIsOfferedOnlyForAWebPageOnAHost) {
    threeFiles();
    FolderListing* listing = model->listing(account.id, std::nullopt);
    UrlRecorder recorder;
    const QStringList schemes{QStringLiteral("http"), QStringLiteral("https"),
                              QStringLiteral("file"), QStringLiteral("javascript")};
    for (const QString& scheme : schemes)
        QDesktopServices::setUrlHandler(scheme, &recorder, "open");
    struct Case {
        const char* address;
        bool offered;
    };
    const Case cases[] = {
        {"https://drive.example.com/b", true},
        {"https:///b", false}, // no host to open
        {"http:b", false},
        {"file:///etc/passwd", false},
        {"javascript:alert(1)", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        FileItem linked = b;
        linked.webViewURL = QUrl(QString::fromLatin1(c.address));
        listing->replace(linked);
        auto w = window(folderTarget(b));
        ASSERT_TRUE(waitReady(*w));
        QAction* open = action(w.get(), "moreOpenInBrowser");
        ASSERT_NE(open, nullptr);
        EXPECT_EQ(open->isVisible(), c.offered);
        // Even when triggered anyway, only a web page on a host is opened.
        recorder.opened.clear();
        open->trigger();
        EXPECT_EQ(recorder.opened.size(), c.offered ? 1 : 0);
    }
    for (const QString& scheme : schemes)
        QDesktopServices::unsetUrlHandler(scheme);
}

TEST_F(PreviewWindowTest, ASearchWindowStepsThroughItsSnapshotAndNamesEachFilesAccount) {
    const FileItem one =
        addFile(QStringLiteral("report one.txt"), QStringLiteral("text/plain"), "1");
    const FileItem two = addFile(QStringLiteral("report two.txt"), QStringLiteral("text/plain"),
                                 "2", std::nullopt, other.id);
    model->search()->search(QStringLiteral("report"), {account.id, other.id});
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return model->search()->phase() == FileSearch::Phase::done; }, 5000));
    ASSERT_EQ(model->search()->results().size(), 2);
    auto w = window(PreviewTarget{one.ref, std::nullopt, std::nullopt, QStringLiteral("report")});
    ASSERT_TRUE(w->item().has_value());
    const int at = *w->index();
    EXPECT_EQ(subtitleOf(*w), QStringLiteral("Work \u2014 %1 of 2").arg(at + 1));
    w->step(at == 0 ? 1 : -1);
    EXPECT_EQ(w->item()->ref, two.ref);
    EXPECT_EQ(subtitleOf(*w), QStringLiteral("Chats \u2014 %1 of 2").arg(*w->index() + 1));
    // A later search in the main window leaves the window's list alone.
    model->search()->search(QStringLiteral("nothing"), {account.id});
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return model->search()->phase() == FileSearch::Phase::done; }, 5000));
    EXPECT_EQ(w->files().size(), 2);
}

// ---- content view --------------------------------------------------------------------------

class PreviewContentTest : public PreviewWindowTest {};

TEST_F(PreviewContentTest, ProgressTextNamesTheSizeOfFilesCopiedFirst) {
    struct Case {
        QString name;
        QString mime;
        std::optional<qint64> size;
        QString text;
    };
    const QList<Case> cases{
        {QStringLiteral("a.pdf"), QStringLiteral("application/pdf"), 1536,
         QStringLiteral("Preparing preview (") + Format::byteCount(1536) +
             QStringLiteral(")\u2026")},
        {QStringLiteral("a.pdf"), QStringLiteral("application/pdf"), std::nullopt,
         QStringLiteral("Preparing preview\u2026")},
        {QStringLiteral("a.mp4"), QStringLiteral("video/mp4"), 4096,
         QStringLiteral("Preparing preview\u2026")},
        {QStringLiteral("a.zip"), QStringLiteral("application/zip"), 4096,
         QStringLiteral("Preparing preview\u2026")},
        {QStringLiteral("a.txt"), QStringLiteral("text/plain"), 2048,
         QStringLiteral("Preparing preview (") + Format::byteCount(2048) +
             QStringLiteral(")\u2026")},
    };
    for (const Case& c : cases) {
        FileItem item;
        item.ref = FileRef{account.id, c.name + QString::number(c.size.value_or(0))};
        item.name = c.name;
        item.mimeType = c.mime;
        item.sizeBytes = c.size;
        PreviewLoader loader(item, nullptr, nullptr, {});
        EXPECT_EQ(PreviewContentView::progressText(loader), c.text) << c.name.toStdString();
    }
}

TEST_F(PreviewContentTest, FailuresOfferTheirRecoveryAndDownloadWhereItMakesSense) {
    struct Case {
        StorageError error;
        bool native;
        QStringList buttons;
    };
    const QList<Case> cases{
        {StorageError::Code::reauthRequired,
         false,
         {QStringLiteral("Reconnect"), QStringLiteral("Download")}},
        {StorageError::Code::network,
         false,
         {QStringLiteral("TryAgain"), QStringLiteral("Download")}},
        {StorageError::Code::previewUnavailable,
         false,
         {QStringLiteral("TryAgain"), QStringLiteral("Download")}},
        {StorageError::Code::network, true, {QStringLiteral("TryAgain")}},
    };
    int n = 0;
    for (const Case& c : cases) {
        FileItem item = addFile(QStringLiteral("f%1.pdf").arg(++n),
                                QStringLiteral("application/pdf"), makePDF(1));
        if (c.native)
            item.mimeType = QStringLiteral("application/vnd.google-apps.document");
        drive->failNext(c.native ? Op::exportFile : Op::download, c.error);
        std::shared_ptr<PreviewLoader> loader = sharedReadyLoader(item);
        ASSERT_EQ(loader->phase().kind(), PreviewLoader::Phase::Kind::failed);
        PreviewContentView view(*model, loader, PreviewMode::full);
        auto* shown = qobject_cast<ContentUnavailableView*>(view.currentView());
        ASSERT_NE(shown, nullptr);
        EXPECT_EQ(shown->title(), c.error.presentation().title);
        QStringList buttons;
        for (QPushButton* button : shown->findChildren<QPushButton*>())
            if (!button->isHidden())
                buttons.append(button->objectName());
        EXPECT_EQ(buttons, c.buttons) << int(c.error.code());
    }
    // "Try Again" loads again, and this time it works.
    FileItem item =
        addFile(QStringLiteral("again.pdf"), QStringLiteral("application/pdf"), makePDF(2));
    drive->failNext(Op::download, StorageError::Code::network);
    PreviewContentView view(*model, sharedReadyLoader(item), PreviewMode::full);
    view.findChild<QPushButton*>(QStringLiteral("TryAgain"))->click();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return qobject_cast<PDFViewer*>(view.currentView()) != nullptr; }, 5000));
}

TEST_F(PreviewContentTest, AnUnsupportedFileOffersDownloadAndOpenWith) {
    const FileItem item = addFile(QStringLiteral("thing.unknownext"),
                                  QStringLiteral("application/x-unknown-thing"), "zz");
    PreviewContentView view(*model, sharedReadyLoader(item), PreviewMode::compact);
    auto* shown = qobject_cast<ContentUnavailableView*>(view.currentView());
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->title(), QStringLiteral("This file can't be previewed yet."));
    EXPECT_EQ(shown->description(),
              QStringLiteral("You can download it or open it with another app on this computer."));
    panels->application = QStringLiteral("viewer.desktop");
    view.findChild<QPushButton*>(QStringLiteral("OpenWith"))->click();
    EXPECT_TRUE(panels->asked.last().startsWith(QStringLiteral("app | ")));
    view.findChild<QPushButton*>(QStringLiteral("Download"))->click();
    EXPECT_EQ(panels->asked.last(), QStringLiteral("save | thing.unknownext"));
}

TEST_F(PreviewContentTest, TheViewerFollowsTheKindAndTheContent) {
    const FileItem pdf =
        addFile(QStringLiteral("v.pdf"), QStringLiteral("application/pdf"), makePDF(1));
    const FileItem png =
        addFile(QStringLiteral("v.png"), QStringLiteral("image/png"), makeImage(QSize(5, 5)));
    const FileItem txt = addFile(QStringLiteral("v.txt"), QStringLiteral("text/plain"), "words");
    const FileItem zip = addFile(QStringLiteral("v.zip"), QStringLiteral("application/zip"),
                                 makeZip({{"in.txt", "x"}}));
    PDFController pdfController;
    ImageController imageController;
    auto viewerOf = [&](const FileItem& item) {
        auto view = std::make_unique<PreviewContentView>(
            *model, sharedReadyLoader(item), PreviewMode::full, &pdfController, &imageController);
        return view;
    };
    auto pdfView = viewerOf(pdf);
    EXPECT_NE(qobject_cast<PDFViewer*>(pdfView->currentView()), nullptr);
    // The counters come once the file has been opened.
    EXPECT_TRUE(QTest::qWaitFor([&] { return pdfController.pageCount() == 1; }, 5000));
    pdfView.reset();
    EXPECT_NE(qobject_cast<ImageViewer*>(viewerOf(png)->currentView()), nullptr);
    EXPECT_NE(qobject_cast<QuickLookViewer*>(viewerOf(txt)->currentView()), nullptr);
    EXPECT_NE(qobject_cast<ArchiveViewer*>(viewerOf(zip)->currentView()), nullptr);
}

TEST_F(PreviewContentTest, AViewKeepsItsLoaderWhenTheModelLetsGoOfIt) {
    const FileItem txt =
        addFile(QStringLiteral("kept.txt"), QStringLiteral("text/plain"), "still here");
    auto view =
        std::make_unique<PreviewContentView>(*model, sharedReadyLoader(txt), PreviewMode::full);
    view->show();
    QPointer<PreviewLoader> loader = view->loader();
    QWidget* viewer = view->currentView();
    ASSERT_NE(qobject_cast<QuickLookViewer*>(viewer), nullptr);
    for (int i = 0; i < AppModel::previewLoaderLimit; ++i)
        model->previewLoader(
            addFile(QStringLiteral("other%1.txt").arg(i), QStringLiteral("text/plain"), "other"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_NE(model->previewLoader(txt).get(), loader.data()); // the model let go of it
    ASSERT_FALSE(loader.isNull());
    EXPECT_EQ(view->loader(), loader.data());
    EXPECT_EQ(view->currentView(), viewer);
    view.reset();
    EXPECT_TRUE(loader.isNull()) << "the last holder deletes it";
}

TEST_F(PreviewWindowTest, ClearingThePreviewCacheKeepsOpenPreviews) {
    threeFiles();
    auto w = window(folderTarget(a));
    ASSERT_TRUE(waitReady(*w));
    QPointer<PreviewLoader> loader = w->contentView()->loader();
    QWidget* viewer = w->contentView()->currentView();
    const QString file = loader->phase().content()->localFileURL().toLocalFile();
    ASSERT_TRUE(QFile::exists(file));
    const int downloads = drive->callCount(Op::download);

    bool done = false;
    model->clearPreviewCache([&] { done = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 5000));
    for (int turn = 0; turn < 3; ++turn) {
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    ASSERT_FALSE(loader.isNull());
    EXPECT_EQ(w->contentView()->loader(), loader.data());
    EXPECT_TRUE(loader->phase().isReady());
    EXPECT_EQ(w->contentView()->currentView(), viewer) << "nothing was loaded again";
    EXPECT_TRUE(QFile::exists(file)) << "the file an open preview shows stays";
    EXPECT_EQ(drive->callCount(Op::download), downloads);

    // Once the window is gone, the next clear takes the file.
    w.reset();
    done = false;
    model->clearPreviewCache([&] { done = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 5000));
    EXPECT_FALSE(QFile::exists(file));
}

TEST_F(PreviewWindowTest, MorePreviewsThanTheModelKeepsLoadersForNeverChurn) {
    // As many windows as the model keeps loaders, and the quick-look panel besides.
    QList<FileItem> items;
    for (int i = 0; i < AppModel::previewLoaderLimit; ++i)
        items.append(addFile(QStringLiteral("f%1.txt").arg(i, 2, 10, QLatin1Char('0')),
                             QStringLiteral("text/plain"), QByteArray::number(i)));
    const FileItem looked = addFile(QStringLiteral("quick.txt"), QStringLiteral("text/plain"), "q");
    loadedListing();
    std::vector<std::unique_ptr<PreviewWindow>> windows;
    for (const FileItem& item : items)
        windows.push_back(window(folderTarget(item)));
    QuickLookPanel panel(std::make_shared<SettingsStore>(
        settingsDir.filePath(QStringLiteral("panel.ini")), QSettings::IniFormat));
    panel.show(looked, *model, {});

    const auto loaders = [&] {
        QList<QPointer<PreviewLoader>> list;
        for (const auto& w : windows)
            list.append(w->contentView() ? w->contentView()->loader() : nullptr);
        list.append(panel.view() ? panel.view()->content()->loader() : nullptr);
        return list;
    };
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto list = loaders();
            return std::all_of(list.begin(), list.end(), [](const QPointer<PreviewLoader>& l) {
                return l && l->phase().isReady();
            });
        },
        10000));
    const QList<QPointer<PreviewLoader>> before = loaders();
    const int downloads = drive->callCount(Op::download);

    // A few turns of the event loop while the model's state changes (every window refreshes).
    for (int turn = 0; turn < 5; ++turn) {
        model->setSearchText(QString::number(turn));
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    const QList<QPointer<PreviewLoader>> after = loaders();
    int replaced = 0;
    for (qsizetype i = 0; i < before.size(); ++i)
        replaced += (before[i].isNull() || before[i] != after[i]) ? 1 : 0;
    EXPECT_EQ(replaced, 0);
    EXPECT_EQ(drive->callCount(Op::download), downloads);
}

TEST_F(PreviewWindowTest, AfterAReconnectTheWindowShowsItsFileAgain) {
    threeFiles();
    auto w = window(folderTarget(b));
    ASSERT_TRUE(waitReady(*w));
    QPointer<FolderListing> before = model->listing(account.id, std::nullopt);
    drive->setConnection(connection(account.providerAccountID));
    model->reconnect(account.id);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model->isConnecting(); }, 5000));
    ASSERT_FALSE(model->presentedError());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(before.isNull()) << "the reconnect replaced the folder's listing";

    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return !w->showsUnavailable() && w->item() && w->contentView() &&
                   w->contentView()->loader()->phase().isReady();
        },
        5000));
    EXPECT_EQ(w->item()->name, QStringLiteral("b.png"));
    EXPECT_EQ(subtitleOf(*w), QStringLiteral("Work \u2014 2 of 3"));
}

} // namespace
