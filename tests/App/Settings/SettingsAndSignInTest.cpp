// The settings window's tabs and the Telegram sign-in sheet against the real model over fakes.
#include "App/Model/TelegramLoginCoordinator.h"
#include "App/DesignSystem/ElidedLabel.h"
#include "App/Settings/AccountDetail.h"
#include "App/Settings/AccountsSettings.h"
#include "App/Settings/GeneralSettings.h"
#include "App/Settings/PrivacySettings.h"
#include "App/Settings/SettingsWindow.h"
#include "App/SignIn/TelegramLoginSheet.h"
#include "StorageCore/Activity/ActivityLog.h"
#include "StorageCore/Concurrency/TaskRunner.h"
#include "StorageCore/Transfers/UploadManager.h"
#include "tests/App/Model/AppModelFixture.h"
#include "tests/support/PostedResults.h"
#include "tests/support/RunningTask.h"
#include "tests/support/ShownText.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <condition_variable>
#include <mutex>

using namespace tw;
using namespace tw::test;

namespace {

class SettingsTest : public AppModelFixture {
protected:
    void SetUp() override {
        AppModelFixture::SetUp();
        work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
        chats = storedAccount(ProviderKind::telegram, QStringLiteral("Chats"), 1);
        storeAccounts({work, chats});
    }
    template <typename T> static T* child(QObject* parent, const QString& name) {
        T* found = parent->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    }
    StorageAccount work;
    StorageAccount chats;
};

/// A clock that parks whoever reads it while the gate is closed. The preview cache reads the
/// clock inside its turn when it moves a fetched copy into place, so a closed gate holds every
/// other cache operation (a clear, a size reading) until it opens.
class ClockGate {
public:
    Clock clock() {
        return [this] {
            std::unique_lock lock(mutex_);
            if (closed_) {
                parked_ = true;
                changed_.notify_all();
                changed_.wait(lock, [this] { return !closed_; });
            }
            return QDateTime::currentDateTimeUtc();
        };
    }
    void close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    void open() {
        std::lock_guard lock(mutex_);
        closed_ = false;
        changed_.notify_all();
    }
    bool waitUntilParked() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5), [this] { return parked_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool closed_ = false;
    bool parked_ = false;
};

TEST_F(SettingsTest, AccountsTabRenamesOnLeavingAndDisconnectsAfterConfirming) {
    AppModel& app = build();
    SettingsWindow window(app);
    window.show();
    auto* accounts = child<AccountsSettings>(&window, QStringLiteral("accountsSettings"));
    ASSERT_EQ(accounts->selection(), work.id); // the first account, selected on showing
    auto* name = child<QLineEdit>(accounts->detail(), QStringLiteral("accountName"));
    name->setText(QStringLiteral("  Clients  "));
    accounts->select(chats.id); // leaving the detail renames the account it showed
    EXPECT_EQ(app.accounts()->account(work.id)->alias, QStringLiteral("Clients"));
    EXPECT_EQ(app.accounts()->account(chats.id)->alias, QStringLiteral("Chats"));
    auto* storage = child<QLabel>(accounts->detail(), QStringLiteral("accountStorage"));
    EXPECT_TRUE(storage->text().contains(QStringLiteral("up to 2 GB per file")));

    // A blank name puts the alias back.
    name = child<QLineEdit>(accounts->detail(), QStringLiteral("accountName"));
    name->setText(QStringLiteral("   "));
    accounts->detail()->commit();
    EXPECT_EQ(name->text(), QStringLiteral("Chats"));

    child<QToolButton>(accounts, QStringLiteral("accountsDisconnect"))->click();
    auto* box = accounts->findChild<QMessageBox*>(QStringLiteral("disconnectConfirmation"));
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text(), QStringLiteral("Disconnect \u201cChats\u201d?"));
    EXPECT_TRUE(shownInformativeText(box).contains(QStringLiteral("from this computer")));
    child<QPushButton>(box, QStringLiteral("disconnectConfirm"))->click();
    waitFor([&] { return !app.accounts()->account(chats.id); });
    waitFor([&] { return accounts->selection() == work.id; });
}

TEST_F(SettingsTest, LongAccountNamesAreCutAtTheirEndWithoutSidewaysScrolling) {
    const QString longName =
        QStringLiteral("Photographs of the family reunion at the lake house, summer edition");
    storeAccounts({storedAccount(ProviderKind::googleDrive, longName), chats});
    AppModel& app = build();
    SettingsWindow window(app);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    auto* list = child<QListWidget>(&window, QStringLiteral("accountsList"));
    ElidedLabel* shown = nullptr;
    for (ElidedLabel* alias : list->findChildren<ElidedLabel*>(QStringLiteral("accountsRowAlias")))
        if (alias->fullText() == longName)
            shown = alias;
    ASSERT_NE(shown, nullptr);
    EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
    EXPECT_TRUE(shown->text().endsWith(QChar(0x2026))) << shown->text().toStdString();
    EXPECT_TRUE(longName.startsWith(shown->text().chopped(1)));
    EXPECT_EQ(shown->toolTip(), longName);
    EXPECT_LE(shown->mapTo(list->viewport(), QPoint(shown->width(), 0)).x(),
              list->viewport()->width());
}

// Opened from a window that hangs off the screen's edge, the settings come up whole on the
// screen, over that window.
TEST_F(SettingsTest, TheWindowOpensWholeOnScreenOverTheWindowItWasOpenedFrom) {
    AppModel& app = build();
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QWidget main;
    main.resize(700, 500);
    main.move(area.right() - 200, area.top() + 40);
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    QApplication::setActiveWindow(&main);
    SettingsWindow window(app);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_TRUE(area.contains(window.frameGeometry()))
        << window.frameGeometry().x() << "," << window.frameGeometry().y() << " in "
        << area.width() << "x" << area.height();
    EXPECT_LE(window.width(), SettingsWindow::defaultSize.width());
    // As close to the window's centre as the screen lets it: against the right edge.
    EXPECT_GT(window.frameGeometry().center().x(), area.center().x());
}

TEST_F(SettingsTest, TheDisconnectConfirmationShowsNamesAsWritten) {
    for (const QString& name : {QStringLiteral("<b>Bold</b>"), QStringLiteral("R&D"),
                                QStringLiteral("Say \"hi\""), QStringLiteral("&amp;")}) {
        StorageAccount account = storedAccount(ProviderKind::googleDrive, name);
        account.email = name + QStringLiteral("@example.com");
        storeAccounts({account});
        model.reset();
        AppModel& app = build();
        AccountsSettings accounts(app);
        accounts.show();
        accounts.confirmDisconnect(account);
        auto* box = accounts.findChild<QMessageBox*>(QStringLiteral("disconnectConfirmation"));
        ASSERT_TRUE(box);
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        EXPECT_EQ(box->text(),
                  QStringLiteral("Disconnect \u201c") + name + QStringLiteral("\u201d?"));
        EXPECT_EQ(shownInformativeText(box),
                  QStringLiteral("Your files stay in Google Drive. Kelvanor removes ") + name +
                      QStringLiteral("@example.com and its sign-in from this computer."));
        // The list shows the alias as it is.
        bool listed = false;
        for (const QLabel* label : accounts.findChildren<QLabel*>())
            listed = listed || (label->textFormat() == Qt::PlainText && label->text() == name);
        EXPECT_TRUE(listed) << name.toStdString();
    }
}

TEST_F(SettingsTest, GeneralTabSetsTheUploadLimitAndClearsHistory) {
    AppModel& app = build();
    app.activity()->record(ActivityEvent::Kind::connectedAccount, work, std::nullopt);
    GeneralSettings general(app);
    general.show();
    auto* simultaneous = child<QComboBox>(&general, QStringLiteral("simultaneousUploads"));
    EXPECT_EQ(simultaneous->currentText(), QStringLiteral("2"));
    simultaneous->setCurrentIndex(3);
    Q_EMIT simultaneous->activated(3);
    EXPECT_EQ(app.uploads()->maxConcurrentUploads(), 4);

    QSignalSpy read(&general, &GeneralSettings::previewCacheSizeRead);
    ASSERT_TRUE(read.count() > 0 || read.wait(5000));
    EXPECT_FALSE(child<QPushButton>(&general, QStringLiteral("clearPreviewCache"))->isEnabled());

    auto* clear = child<QPushButton>(&general, QStringLiteral("clearHistory"));
    ASSERT_TRUE(clear->isEnabled());
    clear->click();
    auto* box = general.findChild<QMessageBox*>(QStringLiteral("clearHistoryConfirmation"));
    ASSERT_TRUE(box);
    child<QPushButton>(box, QStringLiteral("clearHistoryConfirm"))->click();
    EXPECT_TRUE(app.activity()->events().isEmpty());
    EXPECT_FALSE(clear->isEnabled());
}

TEST_F(SettingsTest, ClosingTheWindowWhileThePreviewCacheClearsLeavesTheClearToFinish) {
    const QString folder = cacheDir.filePath(QStringLiteral("Previews"));
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile old(folder + QStringLiteral("/old.bin"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write(QByteArray(4096, 'x')) == 4096);
    old.close();
    ClockGate gate;
    auto cache = std::make_shared<PreviewCache>(folder, PreviewCache::standardMaxBytes,
                                                PreviewCache::standardMaxAge, gate.clock());
    previewCache = cache;
    AppModel& app = build();

    QPointer<SettingsWindow> window = new SettingsWindow(app);
    window->setAttribute(Qt::WA_DeleteOnClose);
    auto* general = child<GeneralSettings>(window, QStringLiteral("generalSettings"));
    QSignalSpy read(general, &GeneralSettings::previewCacheSizeRead);
    window->tabs()->setCurrentWidget(general);
    window->show();
    ASSERT_TRUE(read.count() > 0 || read.wait(5000));
    EXPECT_EQ(general->previewCacheBytes(), 4096);
    auto* clear = child<QPushButton>(general, QStringLiteral("clearPreviewCache"));
    ASSERT_TRUE(clear->isEnabled());

    // A preview's copy moving into place holds the cache's turn at the gate, so the clear
    // started next waits behind it while the window closes.
    gate.close();
    test::Running<QUrl> copy([&] {
        return cache->localCopy(fileItem(work.id, QStringLiteral("f1"), QStringLiteral("a.txt")),
                                QStringLiteral("original"), QStringLiteral("txt"),
                                [](const QUrl& to) {
                                    QFile file(to.toLocalFile());
                                    if (!file.open(QIODevice::WriteOnly) || file.write("new") != 3)
                                        throw StorageError(StorageError::Code::localWriteFailed);
                                });
    });
    ASSERT_TRUE(gate.waitUntilParked());
    clear->click();
    window->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.isNull(); }, 5000));

    gate.open();
    EXPECT_TRUE(copy.wait().isValid());
    ASSERT_TRUE(deliverPostedResults()); // the clear's completion, after its tab is gone
    // The clear finished: the old file is gone; the copy that was moving into place while it
    // ran was in use and stays.
    QStringList left = QDir(folder).entryList(QDir::Files);
    left.removeAll(QStringLiteral("CACHEDIR.TAG"));
    EXPECT_FALSE(left.contains(QStringLiteral("old.bin")));
    EXPECT_LE(left.size(), 1) << left.join(QStringLiteral(", ")).toStdString();
}

TEST_F(SettingsTest, WithoutAPreviewCacheTheWindowOpensAndHasNothingToClear) {
    previewCache = std::shared_ptr<PreviewCache>();
    AppModel& app = build();
    SettingsWindow window(app);
    auto* general = child<GeneralSettings>(&window, QStringLiteral("generalSettings"));
    QSignalSpy read(general, &GeneralSettings::previewCacheSizeRead);
    window.tabs()->setCurrentWidget(general);
    window.show();
    ASSERT_TRUE(read.count() > 0 || read.wait(5000));
    EXPECT_EQ(general->previewCacheBytes(), 0);
    EXPECT_FALSE(child<QPushButton>(general, QStringLiteral("clearPreviewCache"))->isEnabled());

    // The Privacy tab names no previews folder.
    auto* privacy = child<PrivacySettings>(&window, QStringLiteral("privacySettings"));
    bool namesData = false;
    for (const QLabel* label : privacy->findChildren<QLabel*>()) {
        EXPECT_FALSE(label->text().contains(QStringLiteral("Previews:")));
        namesData = namesData || label->text().contains(QStringLiteral("Account names, rules"));
    }
    EXPECT_TRUE(namesData);
}

TEST(TelegramLoginSheet, StepsThroughPhoneCodeAndPasswordAndCancels) {
    TelegramLoginCoordinator coordinator;
    bool cancelled = false;
    coordinator.setOnCancel([&] { cancelled = true; });
    TelegramLoginSheet sheet(&coordinator);
    sheet.show();
    auto* field = sheet.findChild<QLineEdit*>(QStringLiteral("telegramLoginField"));
    auto* next = sheet.findChild<QPushButton*>(QStringLiteral("telegramLoginContinue"));
    auto* title = sheet.findChild<QLabel*>(QStringLiteral("telegramLoginTitle"));
    ASSERT_TRUE(field && next && title);
    EXPECT_FALSE(field->isEnabled()); // nothing asked yet

    std::optional<TaskResult<QString>> answer;
    auto askFor = [&](const TelegramLoginStep& step, std::optional<QString> error = std::nullopt) {
        answer.reset();
        runTask(
            &coordinator, [&coordinator, step, error] { return coordinator.requestInput(step, error); },
            [&](TaskResult<QString> r) { answer = std::move(r); });
        ASSERT_TRUE(QTest::qWaitFor([&] { return coordinator.hasPendingRequest() && field->isEnabled(); }, 5000));
    };

    askFor(TelegramLoginStep::phone());
    EXPECT_FALSE(next->isEnabled());
    QTest::keyClicks(field, QStringLiteral("  +44 7700 900123\t"));
    QTest::keyClick(field, Qt::Key_Return); // one Return, one answer
    ASSERT_TRUE(QTest::qWaitFor([&] { return answer.has_value(); }, 5000));
    EXPECT_EQ(answer->value(), QStringLiteral("+44 7700 900123"));
    EXPECT_FALSE(field->isEnabled()); // working

    askFor(TelegramLoginStep::code(QStringLiteral("+44 7700 900123"), QStringLiteral("SMS")));
    EXPECT_EQ(title->text(), QStringLiteral("Enter the Code"));
    EXPECT_TRUE(field->text().isEmpty()); // a new step empties the field
    QTest::keyClicks(field, QStringLiteral("11111"));
    next->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return answer.has_value(); }, 5000));
    // Refused: the same step again with the reason; the typed text stays.
    askFor(TelegramLoginStep::code(QStringLiteral("+44 7700 900123"), QStringLiteral("SMS")),
           QStringLiteral("The code is wrong."));
    EXPECT_EQ(field->text(), QStringLiteral("11111"));
    auto* error = sheet.findChild<QLabel*>(QStringLiteral("telegramLoginError"));
    EXPECT_TRUE(error->text().contains(QStringLiteral("The code is wrong.")));
    field->setText(QStringLiteral("22222"));
    next->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return answer.has_value(); }, 5000));

    askFor(TelegramLoginStep::password(QStringLiteral("pet")));
    EXPECT_EQ(field->echoMode(), QLineEdit::Password);
    QTest::keyClick(&sheet, Qt::Key_Escape); // Escape is Cancel
    ASSERT_TRUE(QTest::qWaitFor([&] { return answer.has_value(); }, 5000));
    EXPECT_TRUE(answer->isCancelled());
    EXPECT_TRUE(cancelled);
    sheet.close(); // only the presenter removes it
    EXPECT_TRUE(sheet.isVisible());
}

} // namespace
