// The main window over the real model and fake back ends: onboarding gives way to the split
// view, the detail pane follows the model, the uploads button follows the job list, and the
// presenter shows one sheet and one alert at a time with the right buttons.
#include "App/Shell/MainWindow.h"
#include "App/Home/HomeView.h"
#include "App/Onboarding/OnboardingView.h"
#include "App/Preview/QuickLook.h"
#include "App/Search/SearchField.h"
#include "App/Shell/WindowPresenter.h"
#include "App/Sidebar/Sidebar.h"
#include "App/SignIn/ConnectingSheet.h"
#include "App/SignIn/NameStorageSheet.h"
#include "App/SignIn/TelegramLoginSheet.h"
#include "App/Uploads/SmartUploadView.h"
#include "App/Uploads/UploadToastView.h"
#include "StorageCore/Transfers/UploadManager.h"
#include "tests/App/Model/AppModelFixture.h"
#include "tests/App/Preview/RecordingQuickLook.h"
#include "tests/support/ShownText.h"

#include <QAbstractAnimation>
#include <QAbstractItemView>
#include <QFile>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QToolBar>
#include <QToolButton>
#include <QTest>

using namespace tw;
using namespace tw::test;
using Op = FakeStorageProvider::Op;
using Code = StorageError::Code;
using Sheet = WindowPresenter::Sheet;

namespace {

class MainWindowTest : public AppModelFixture {
protected:
    MainWindow& window() {
        if (!window_) {
            window_ = std::make_unique<MainWindow>(*model, quickLook, [this](const PreviewTarget& t) {
                previews.append(t);
            });
            window_->show();
        }
        return *window_;
    }
    static QStringList buttons(QMessageBox* box) {
        QStringList titles;
        for (QAbstractButton* button : box->buttons())
            titles.append(button->text());
        titles.sort();
        return titles;
    }
    void TearDown() override { window_.reset(); }

    RecordingQuickLook quickLook;
    QList<PreviewTarget> previews;
    std::unique_ptr<MainWindow> window_;
};

TEST_F(MainWindowTest, OnboardingGivesWayToTheSplitViewWithOneSheetAtATime) {
    AppModel& app = build();
    MainWindow& main = window();
    EXPECT_EQ(main.windowTitle(), QStringLiteral("Kelvanor"));
    EXPECT_GE(main.minimumWidth(), 820);
    EXPECT_TRUE(main.isShowingOnboarding());
    EXPECT_FALSE(main.toolBar()->isVisible());
    // The welcome screen's first paint builds nothing of the split view behind it.
    EXPECT_EQ(main.findChild<Sidebar*>(), nullptr);
    EXPECT_EQ(main.findChild<HomeView*>(), nullptr);
    EXPECT_EQ(main.detailWidget(), nullptr);

    drive->setConnection(connection(QStringLiteral("alice")));
    auto gate = drive->gateNext(Op::connect);
    app.connectAccount(ProviderKind::googleDrive);
    ASSERT_TRUE(gate->waitEntered());
    QCoreApplication::processEvents();
    // On the onboarding screen the Google sign-in waits inline, without a sheet.
    EXPECT_EQ(main.presenter()->sheetKind(), Sheet::none);
    gate->release();
    waitFor([&] { return !main.isShowingOnboarding(); });
    // Connected: the split view, and the naming sheet as the only sheet.
    EXPECT_NE(main.findChild<Sidebar*>(), nullptr);
    waitFor([&] { return main.presenter()->sheetKind() == Sheet::naming; });
    auto* naming = qobject_cast<NameStorageSheet*>(main.presenter()->sheet());
    ASSERT_NE(naming, nullptr);
    EXPECT_EQ(main.findChildren<QDialog*>().size(), 1);
    auto* name = naming->findChild<QLineEdit*>(QStringLiteral("storageName"));
    EXPECT_EQ(name->text(), app.accountToName()->alias);

    // Save: the account is renamed and opened, the sheet is gone.
    const QUuid id = app.accountToName()->id;
    name->setText(QStringLiteral("  Team  "));
    naming->findChild<QPushButton*>(QStringLiteral("nameStorageSave"))->click();
    waitFor([&] { return main.presenter()->sheetKind() == Sheet::none; });
    EXPECT_FALSE(app.accountToName());
    EXPECT_EQ(app.accounts()->account(id)->alias, QStringLiteral("Team"));
    EXPECT_EQ(app.selection(), SidebarItem::storage(id));
    QCoreApplication::processEvents();
    EXPECT_EQ(main.detail(), MainWindow::Detail::storage);
}

/// What the window holds each time it is drawn, until its content is there.
class FrameRecorder : public QObject {
public:
    explicit FrameRecorder(MainWindow& window) : window_(window) { window.installEventFilter(this); }
    struct Frame {
        bool searchField;
        bool onboarding;
        bool sidebar;
        bool home;
    };
    QList<Frame> frames;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &window_ && event->type() == QEvent::Paint)
            frames.append({window_.findChild<SearchField*>() != nullptr,
                           window_.findChild<OnboardingView*>() != nullptr,
                           window_.findChild<Sidebar*>() != nullptr,
                           window_.findChild<HomeView*>() != nullptr});
        return false;
    }

private:
    MainWindow& window_;
};

// A start puts the window on screen first: its first frame holds none of the screens (nor the
// toolbar), which are built right after it and shown by the next frame, the
// welcome screen without accounts, the sidebar beside Home with one.
TEST_F(MainWindowTest, AStartDrawsTheWindowBeforeItBuildsItsScreens) {
    StorageAccount work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
    for (const bool withAccount : {false, true}) {
        SCOPED_TRACE(withAccount ? "one account" : "no account");
        window_.reset();
        model.reset();
        storeAccounts(withAccount ? QList<StorageAccount>{work} : QList<StorageAccount>{});
        defaults->remove(QStringLiteral("hasCompletedOnboarding"));
        AppModel& app = build();
        ASSERT_EQ(app.hasCompletedOnboarding(), withAccount);
        window_ = std::make_unique<MainWindow>(
            app, quickLook, [](const PreviewTarget&) {}, nullptr, MainWindow::Build::afterFirstFrame);
        FrameRecorder recorder(*window_);
        window_->show();
        EXPECT_FALSE(window_->isContentBuilt());
        EXPECT_EQ(window_->toolBar(), nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
        waitFor([&] { return window_->isContentBuilt() && recorder.frames.size() >= 2; });
        const FrameRecorder::Frame first = recorder.frames.first();
        EXPECT_FALSE(first.searchField || first.onboarding || first.sidebar || first.home);
        const FrameRecorder::Frame next = recorder.frames.last();
        EXPECT_TRUE(next.searchField);
        EXPECT_EQ(next.onboarding, !withAccount);
        EXPECT_EQ(next.sidebar, withAccount);
        EXPECT_EQ(next.home, withAccount);
        EXPECT_EQ(window_->isShowingOnboarding(), !withAccount);
        ASSERT_NE(window_->toolBar(), nullptr);
        EXPECT_EQ(window_->toolBar()->isVisible(), withAccount);
        EXPECT_EQ(window_->detail(), MainWindow::Detail::home);
        if (withAccount) {
            EXPECT_EQ(window_->detailWidget(), window_->findChild<HomeView*>());
        }
    }
}

// Changes of the model that come before the content is built are shown once it is.
TEST_F(MainWindowTest, ChangesBeforeTheFirstFrameAreShownWithTheContent) {
    StorageAccount work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
    storeAccounts({work});
    AppModel& app = build();
    window_ = std::make_unique<MainWindow>(
        app, quickLook, [](const PreviewTarget&) {}, nullptr, MainWindow::Build::afterFirstFrame);
    window_->show();
    app.setSelection(SidebarItem::uploads());
    QCoreApplication::processEvents();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    waitFor([&] { return window_->isContentBuilt(); });
    EXPECT_EQ(window_->detail(), MainWindow::Detail::smartUpload);
    EXPECT_NE(qobject_cast<SmartUploadView*>(window_->detailWidget()), nullptr);
}

TEST_F(MainWindowTest, TheDetailPaneFollowsSearchSelectionAndRemovedAccounts) {
    StorageAccount work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
    storeAccounts({work});
    AppModel& app = build();
    app.setHasCompletedOnboarding(true);
    MainWindow& main = window();
    QCoreApplication::processEvents();
    struct Case {
        std::optional<SidebarItem> selection;
        QString search;
        MainWindow::Detail detail;
    };
    const Case cases[] = {
        {SidebarItem::home(), {}, MainWindow::Detail::home},
        {std::nullopt, {}, MainWindow::Detail::home},
        {SidebarItem::uploads(), {}, MainWindow::Detail::smartUpload},
        {SidebarItem::storage(work.id), {}, MainWindow::Detail::storage},
        {SidebarItem::storage(QUuid::createUuid()), {}, MainWindow::Detail::home},
        {SidebarItem::storage(work.id), QStringLiteral(" \t"), MainWindow::Detail::storage},
        {SidebarItem::storage(work.id), QStringLiteral("report"), MainWindow::Detail::search},
    };
    for (const Case& c : cases) {
        app.setSelection(c.selection);
        app.setSearchText(c.search);
        QCoreApplication::processEvents();
        EXPECT_EQ(main.detail(), c.detail) << c.search.toStdString();
    }
    app.setSearchText(QString());
    app.setSelection(SidebarItem::uploads());
    QCoreApplication::processEvents();
    EXPECT_NE(qobject_cast<SmartUploadView*>(main.detailWidget()), nullptr);
    app.setSelection(SidebarItem::home());
    QCoreApplication::processEvents();
    EXPECT_NE(qobject_cast<HomeView*>(main.detailWidget()), nullptr);

    // The shown account goes away: Home instead.
    app.setSelection(SidebarItem::storage(work.id));
    QCoreApplication::processEvents();
    bool done = false;
    app.disconnect(work.id, [&] { done = true; });
    waitFor([&] { return done; });
    QCoreApplication::processEvents();
    EXPECT_EQ(main.detail(), MainWindow::Detail::home);
}

TEST_F(MainWindowTest, SpaceInTheEmptySearchFieldActsOnTheFolderTable) {
    StorageAccount work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
    storeAccounts({work});
    drive->addFiles(work.id, std::nullopt, 3);
    AppModel& app = build();
    app.setHasCompletedOnboarding(true);
    app.setSelection(SidebarItem::storage(work.id));
    MainWindow& main = window();
    main.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&main));
    QAbstractItemView* table = nullptr;
    waitFor([&] {
        table = main.findChild<QAbstractItemView*>(QStringLiteral("folderTable"));
        return table && table->isVisible() && table->model()->rowCount() == 3;
    });
    auto* field = main.findChild<QLineEdit*>(QStringLiteral("searchText"));
    ASSERT_NE(field, nullptr);

    // Nothing selected: the space is typed into the field (and starts no search of blanks).
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Space);
    EXPECT_EQ(field->text(), QStringLiteral(" "));
    EXPECT_TRUE(quickLook.calls.filter(QStringLiteral("show")).isEmpty());
    field->clear();

    // A selected file: Space in the empty field opens the panel, the table takes the focus.
    table->selectionModel()->select(table->model()->index(1, 0),
                                    QItemSelectionModel::ClearAndSelect |
                                        QItemSelectionModel::Rows);
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Space);
    EXPECT_TRUE(field->text().isEmpty());
    ASSERT_TRUE(quickLook.visible);
    EXPECT_EQ(quickLook.shown->name, table->model()->index(1, 0).data().toString());
    EXPECT_TRUE(table->hasFocus());
    // Escape closes it from wherever the keys are not typed.
    QTest::keyClick(table, Qt::Key_Escape);
    EXPECT_FALSE(quickLook.visible);

    // Typing in a field with text is never taken.
    field->setFocus();
    field->setText(QStringLiteral("re"));
    QTest::keyClick(field, Qt::Key_Space);
    EXPECT_EQ(field->text(), QStringLiteral("re "));
    EXPECT_FALSE(quickLook.visible);
    app.setSearchText(QString());
}

TEST_F(MainWindowTest, TheUploadsButtonStaysWhileAnyJobIsListed) {
    StorageAccount work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
    storeAccounts({work});
    AppModel& app = build();
    app.setHasCompletedOnboarding(true);
    MainWindow& main = window();
    auto* button = main.toolBar()->findChild<QToolButton*>(QStringLiteral("uploadsButton"));
    ASSERT_NE(button, nullptr);
    EXPECT_FALSE(button->isVisible());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.txt"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("hello");
    file.close();
    app.upload({QUrl::fromLocalFile(path)}, app.destination(work.id, std::nullopt));
    waitFor([&] { return button->isVisible(); });
    waitFor([&] {
        const auto& jobs = app.uploads()->jobs();
        return !jobs.isEmpty() && jobs.first().isFinished();
    });
    QCoreApplication::processEvents();
    EXPECT_TRUE(button->isVisible()); // a finished job still counts
    app.uploads()->clearFinished();
    waitFor([&] { return !button->isVisible(); });
}

TEST_F(MainWindowTest, AToastArrivingWhileTheLastOneFadesOutStaysShown) {
    StorageAccount work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
    storeAccounts({work});
    AppModel& app = build();
    app.setHasCompletedOnboarding(true);
    MainWindow& main = window();
    auto* toast = main.findChild<UploadToastView*>(QStringLiteral("uploadToast"));
    ASSERT_NE(toast, nullptr);
    QTemporaryDir dir;
    auto localFile = [&](const QString& name) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write("hello") == 5);
        return QUrl::fromLocalFile(dir.filePath(name));
    };
    const UploadDestination destination = app.destination(work.id, std::nullopt);
    auto running = [&] {
        const QList<QAbstractAnimation*> animations = toast->findChildren<QAbstractAnimation*>();
        return std::any_of(animations.cbegin(), animations.cend(), [](const QAbstractAnimation* a) {
            return a->state() == QAbstractAnimation::Running;
        });
    };

    app.upload({localFile(QStringLiteral("a.txt"))}, destination);
    waitFor([&] { return app.uploadToast() && toast->isVisible(); });
    waitFor([&] { return !running(); });
    // The next upload waits at the back end while the toast's time runs out.
    auto gate = drive->gateNext(Op::upload);
    app.upload({localFile(QStringLiteral("b.txt"))}, destination);
    ASSERT_TRUE(gate->waitEntered());
    scheduler.fire();
    EXPECT_FALSE(app.uploadToast());
    waitFor([&] { return running(); }); // fading out
    gate->release();
    waitFor([&] { return app.uploadToast().has_value(); });
    // Once every animation has ended the toast is still there, as the model holds it.
    waitFor([&] { return !running(); });
    QCoreApplication::processEvents();
    ASSERT_TRUE(app.uploadToast());
    EXPECT_TRUE(toast->isVisible());
    EXPECT_EQ(toast->message(), app.uploadToast()->message());

    // Dropped for good, it fades out and goes.
    scheduler.fire();
    waitFor([&] { return !toast->isVisible(); });
}

TEST_F(MainWindowTest, ErrorAlertButtonsFollowTheRecoveryAndDismissalClearsIt) {
    StorageAccount work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
    storeAccounts({work});
    AppModel& app = build();
    app.setHasCompletedOnboarding(true);
    MainWindow& main = window();
    const QString tryAgain = QStringLiteral("Try Again");
    const QString reconnect = QStringLiteral("Reconnect");
    const QString ok = QStringLiteral("OK");
    struct Case {
        Code code;
        std::optional<QUuid> account;
        QStringList buttons;
    };
    const Case cases[] = {
        {Code::network, work.id, {ok}},
        {Code::network, std::nullopt, {ok, tryAgain}},
        {Code::reauthRequired, work.id, {ok, reconnect}},
        {Code::permissionDenied, std::nullopt, {ok}},
    };
    ASSERT_EQ(StorageError(Code::network).presentation().recovery, RecoveryAction::retry);
    for (const Case& c : cases) {
        app.setPresentedError(PresentedError::make(StorageError(c.code), c.account));
        QCoreApplication::processEvents();
        auto* alert = main.presenter()->alert();
        ASSERT_NE(alert, nullptr);
        QStringList expected = c.buttons;
        expected.sort();
        EXPECT_EQ(buttons(alert), expected);
        EXPECT_EQ(alert->text(), StorageError(c.code).presentation().title);
        EXPECT_EQ(alert->textFormat(), Qt::PlainText);
        alert->findChild<QPushButton*>(QStringLiteral("errorAlertOK"))->click();
        QCoreApplication::processEvents();
        EXPECT_FALSE(app.presentedError());
        EXPECT_EQ(main.presenter()->alert(), nullptr);
    }

    // Reconnect recovers the named account.
    auto gate = drive->gateNext(Op::connect);
    app.setPresentedError(PresentedError::make(StorageError(Code::reauthRequired), work.id));
    QCoreApplication::processEvents();
    main.presenter()->alert()->findChild<QPushButton*>(QStringLiteral("errorAlertRecovery"))->click();
    QCoreApplication::processEvents();
    EXPECT_TRUE(app.isConnecting());
    gate->release();
    waitFor([&] { return !app.isConnecting(); });

    // A notice waits for the error before it, and is shown as plain text.
    app.setPresentedError(PresentedError::make(StorageError(Code::notFound)));
    app.setNotice(
        Notice::make(QStringLiteral("<b>R&D</b> is already connected."),
                     QStringLiteral("<i>me</i>&amp;co@example.com [*] stays \"as is\".")));
    QCoreApplication::processEvents();
    EXPECT_EQ(main.presenter()->alertKind(), WindowPresenter::Alert::error);
    main.presenter()->alert()->findChild<QPushButton*>(QStringLiteral("errorAlertOK"))->click();
    QCoreApplication::processEvents();
    ASSERT_EQ(main.presenter()->alertKind(), WindowPresenter::Alert::notice);
    EXPECT_EQ(main.presenter()->alert()->text(), QStringLiteral("<b>R&D</b> is already connected."));
    EXPECT_EQ(main.presenter()->alert()->textFormat(), Qt::PlainText);
    EXPECT_EQ(shownInformativeText(main.presenter()->alert()),
              QStringLiteral("<i>me</i>&amp;co@example.com [*] stays \"as is\"."));
    main.presenter()->alert()->findChild<QPushButton*>(QStringLiteral("noticeAlertOK"))->click();
    QCoreApplication::processEvents();
    EXPECT_FALSE(app.notice());
}

TEST_F(MainWindowTest, ConnectingSheetsFollowTheKindAndCannotBeDismissed) {
    StorageAccount work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
    storeAccounts({work});
    AppModel& app = build();
    app.setHasCompletedOnboarding(true);
    MainWindow& main = window();

    auto gate = drive->gateNext(Op::connect);
    app.connectAccount(ProviderKind::googleDrive);
    ASSERT_TRUE(gate->waitEntered());
    QCoreApplication::processEvents();
    ASSERT_EQ(main.presenter()->sheetKind(), Sheet::connecting);
    auto* sheet = qobject_cast<ConnectingSheet*>(main.presenter()->sheet());
    ASSERT_NE(sheet, nullptr);
    sheet->close(); // the window manager's close: ignored
    QCoreApplication::processEvents();
    EXPECT_TRUE(sheet->isVisible());
    // Escape cancels the sign-in; the sheet goes once the model stops connecting.
    QTest::keyClick(sheet, Qt::Key_Escape);
    gate->release();
    waitFor([&] { return !app.isConnecting(); });
    QCoreApplication::processEvents();
    EXPECT_EQ(main.presenter()->sheetKind(), Sheet::none);
    EXPECT_FALSE(app.presentedError()); // a cancelled sign-in says nothing

    // Telegram's sign-in sheet, while a Telegram account is being connected.
    telegram->setConnection(connection(QStringLiteral("tg"), ProviderKind::telegram));
    auto tgGate = telegram->gateNext(Op::connect);
    app.connectAccount(ProviderKind::telegram);
    if (app.isConnecting()) {
        ASSERT_TRUE(tgGate->waitEntered());
        QCoreApplication::processEvents();
        EXPECT_EQ(main.presenter()->sheetKind(), Sheet::telegram);
        EXPECT_NE(qobject_cast<TelegramLoginSheet*>(main.presenter()->sheet()), nullptr);
        tgGate->release();
        waitFor([&] { return !app.isConnecting(); });
        QCoreApplication::processEvents();
        EXPECT_NE(main.presenter()->sheetKind(), Sheet::telegram);
    } else {
        tgGate->release(); // Telegram is not configured in this build of the fixture
    }
}

TEST(NameStorageSheet, BlankNamesCannotBeSavedAndSuggestionsReplaceTheText) {
    EXPECT_FALSE(NameStorageSheet::canSave(QString()));
    EXPECT_FALSE(NameStorageSheet::canSave(QStringLiteral(" \t ")));
    EXPECT_TRUE(NameStorageSheet::canSave(QStringLiteral("\n")));
    EXPECT_TRUE(NameStorageSheet::canSave(QStringLiteral(" Work ")));
    StorageNameField field;
    field.lineEdit()->setText(QStringLiteral("My own"));
    const auto actions = field.suggestionsButton()->menu()->actions();
    QStringList titles;
    for (QAction* action : actions)
        titles.append(action->text());
    EXPECT_EQ(titles, StorageNameField::suggestions());
    EXPECT_EQ(titles, (QStringList{QStringLiteral("Personal"), QStringLiteral("Work"),
                                   QStringLiteral("Freelance"), QStringLiteral("Clients"),
                                   QStringLiteral("School"), QStringLiteral("Archive")}));
    actions[1]->trigger();
    EXPECT_EQ(field.lineEdit()->text(), QStringLiteral("Work"));
}

class NameSheetReturnTest : public AppModelFixture {};

TEST_F(NameSheetReturnTest, OneReturnSavesOnceAndABlankNameNever) {
    StorageAccount work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
    storeAccounts({work});
    AppModel& app = build();
    QWidget parent;
    parent.show();
    NameStorageSheet sheet(app, work, &parent);
    sheet.open();
    auto* name = sheet.findChild<QLineEdit*>(QStringLiteral("storageName"));
    name->setFocus();
    name->setText(QStringLiteral("   "));
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_TRUE(sheet.isVisible());
    EXPECT_EQ(app.accounts()->account(work.id)->alias, QStringLiteral("Work"));
    QTest::keyClick(name, Qt::Key_Escape); // no Cancel
    EXPECT_TRUE(sheet.isVisible());

    QSignalSpy accounts(app.accounts(), &AccountManager::accountsChanged);
    name->setText(QStringLiteral("Clients"));
    QTest::keyClick(name, Qt::Key_Return);
    EXPECT_FALSE(sheet.isVisible());
    EXPECT_EQ(accounts.count(), 1);
    EXPECT_EQ(app.accounts()->account(work.id)->alias, QStringLiteral("Clients"));
    EXPECT_EQ(app.selection(), SidebarItem::storage(work.id));
}

} // namespace
