// The model's accounts: connecting (new, already connected, cancelled, failing, not
// configured), the recovery actions, renaming, disconnecting and what it cleans up, and the
// onboarding flag.
#include "tests/App/Model/AppModelFixture.h"

#include "StorageCore/Activity/ActivityLog.h"
#include "StorageCore/Files/FolderListing.h"
#include "StorageCore/Transfers/SmartUploadStore.h"

using namespace tw;
using namespace tw::test;
using Code = StorageError::Code;
using Op = FakeStorageProvider::Op;

namespace {

class AppModelAccountsTest : public AppModelFixture {};

TEST_F(AppModelAccountsTest, ConnectingAddsTheAccountAndAsksForItsName) {
    AppModel& app = build();
    EXPECT_FALSE(app.hasCompletedOnboarding());
    drive->setConnection(connection(QStringLiteral("alice")));
    QSignalSpy connecting(&app, &AppModel::isConnectingChanged);
    app.connectAccount(ProviderKind::googleDrive);
    EXPECT_TRUE(app.isConnecting());
    EXPECT_EQ(app.connectingKind(), ProviderKind::googleDrive);
    app.connectAccount(ProviderKind::googleDrive); // ignored while one runs
    waitFor([&] { return !app.isConnecting(); });
    EXPECT_EQ(connecting.count(), 2);
    ASSERT_EQ(app.accounts()->accounts().size(), 1);
    ASSERT_TRUE(app.accountToName());
    EXPECT_EQ(app.accountToName()->email, QStringLiteral("alice@example.com"));
    EXPECT_TRUE(app.hasCompletedOnboarding());
    EXPECT_TRUE(defaults->value(QStringLiteral("hasCompletedOnboarding")).toBool());
    EXPECT_EQ(app.activity()->events().first().kind, ActivityEvent::Kind::connectedAccount);
    EXPECT_EQ(drive->callCount(Op::connect), 1);
}

TEST_F(AppModelAccountsTest, TheSameIdentityAgainSelectsItsAccountWithANotice) {
    AppModel& app = build();
    drive->setConnection(connection(QStringLiteral("alice")));
    app.connectAccount(ProviderKind::googleDrive);
    waitFor([&] { return !app.isConnecting(); });
    const StorageAccount first = app.accounts()->accounts().first();
    app.setAccountToName(std::nullopt);

    app.connectAccount(ProviderKind::googleDrive);
    waitFor([&] { return !app.isConnecting(); });
    EXPECT_EQ(app.accounts()->accounts().size(), 1);
    EXPECT_EQ(app.selection(), SidebarItem::storage(first.id));
    ASSERT_TRUE(app.notice());
    EXPECT_EQ(app.notice()->title, first.alias + QStringLiteral(" is already connected."));
    EXPECT_FALSE(app.accountToName());
}

TEST_F(AppModelAccountsTest, CancelledAndFailedSignInsAndTheRetryRecovery) {
    AppModel& app = build();
    // Cancelled by the user: nothing shown.
    drive->failNext(Op::connect, StorageError(Code::authorizationCancelled));
    app.connectAccount(ProviderKind::googleDrive);
    waitFor([&] { return !app.isConnecting(); });
    EXPECT_FALSE(app.presentedError());
    EXPECT_FALSE(app.connectingKind());

    // Cancelled through the connecting sheet while the sign-in waits.
    auto gate = drive->gateNext(Op::connect);
    app.connectAccount(ProviderKind::googleDrive);
    ASSERT_TRUE(gate->waitEntered());
    app.cancelConnection();
    gate->release();
    waitFor([&] { return !app.isConnecting(); });
    EXPECT_FALSE(app.presentedError());
    EXPECT_TRUE(app.accounts()->accounts().isEmpty());

    // A failure shows the alert without account or kind; retry connects the same kind again.
    drive->failNext(Op::connect, StorageError(Code::network));
    app.connectAccount(ProviderKind::googleDrive);
    waitFor([&] { return !app.isConnecting(); });
    ASSERT_TRUE(app.presentedError());
    EXPECT_EQ(app.presentedError()->error.code(), Code::network);
    EXPECT_FALSE(app.presentedError()->accountID);
    drive->setConnection(connection(QStringLiteral("bob")));
    app.recover(RecoveryAction::retry, std::nullopt);
    EXPECT_TRUE(app.isConnecting());
    EXPECT_FALSE(app.presentedError());
    waitFor([&] { return !app.isConnecting(); });
    EXPECT_EQ(app.accounts()->accounts().size(), 1);
}

TEST_F(AppModelAccountsTest, AnUnconfiguredServiceSaysSoAndStartsNothing) {
    AppModel& app = build(/*googleConfigured=*/false);
    app.connectAccount(ProviderKind::googleDrive);
    EXPECT_FALSE(app.isConnecting());
    ASSERT_TRUE(app.presentedError());
    EXPECT_EQ(app.presentedError()->error.code(), Code::notConfigured);
    EXPECT_EQ(app.presentedError()->kind, ProviderKind::googleDrive);
    // No Telegram back end at all: Telegram is not configured either.
    EXPECT_FALSE(app.isConfigured(ProviderKind::telegram));
    EXPECT_EQ(drive->callCount(Op::connect), 0);
}

TEST_F(AppModelAccountsTest, RenameRefusesAnEmptyNameWithAnAlert) {
    const StorageAccount work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
    storeAccounts({work});
    AppModel& app = build();
    EXPECT_TRUE(app.hasCompletedOnboarding()); // an account is stored, no flag yet
    app.rename(work.id, QStringLiteral("  Clients  "));
    EXPECT_EQ(app.accounts()->account(work.id)->alias, QStringLiteral("Clients"));
    app.rename(work.id, QStringLiteral("   "));
    ASSERT_TRUE(app.presentedError());
    EXPECT_EQ(app.presentedError()->error.code(), Code::invalidName);
    EXPECT_EQ(app.accounts()->account(work.id)->alias, QStringLiteral("Clients"));
}

TEST_F(AppModelAccountsTest, DisconnectCleansUpEverythingOfTheAccount) {
    const StorageAccount work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
    const StorageAccount home = storedAccount(ProviderKind::googleDrive, QStringLiteral("Home"), 1);
    storeAccounts({work, home});
    AppModel& app = build();
    app.setSelection(SidebarItem::storage(work.id));
    app.setPath(work.id, {FolderCrumb{QStringLiteral("f1"), QStringLiteral("Reports")}});
    QPointer<FolderListing> cached = app.listing(work.id, std::nullopt);
    const UploadTarget onWork{work.id, std::nullopt, {}};
    app.smartUpload()->addRule(UploadRule::Match::fileExtension(QStringLiteral("pdf")), onWork);
    const LocalFile pdf{QUrl::fromLocalFile(QStringLiteral("/tmp/a.pdf")), QStringLiteral("a.pdf"), 10,
                        QStringLiteral("application/pdf")};
    const LocalFile txt{QUrl::fromLocalFile(QStringLiteral("/tmp/b.txt")), QStringLiteral("b.txt"), 10,
                        QStringLiteral("text/plain")};
    const SmartUploadItem aimed{QUuid::createUuid(), pdf, onWork, UploadSuggestion::Reason::mostSpace(), false};
    const SmartUploadItem elsewhere{QUuid::createUuid(), txt, UploadTarget{home.id, std::nullopt, {}},
                                    UploadSuggestion::Reason::mostSpace(), true};
    app.setSmartBatch({aimed, elsewhere});

    bool done = false;
    app.disconnect(work.id, [&] { done = true; });
    waitFor([&] { return done; });
    EXPECT_FALSE(app.accounts()->account(work.id));
    EXPECT_EQ(app.selection(), SidebarItem::home());
    EXPECT_FALSE(app.paths().contains(work.id));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(cached.isNull()); // dropped: the next visit gets a fresh listing
    EXPECT_TRUE(app.smartUpload()->rules().isEmpty());
    ASSERT_EQ(app.smartBatch().size(), 2);
    EXPECT_NE(app.smartBatch()[0].id, aimed.id); // re-suggested
    ASSERT_TRUE(app.smartBatch()[0].target);
    EXPECT_EQ(app.smartBatch()[0].target->accountID, home.id);
    EXPECT_EQ(app.smartBatch()[1], elsewhere); // untouched
    EXPECT_EQ(app.activity()->events().first().kind, ActivityEvent::Kind::disconnectedAccount);
    EXPECT_EQ(drive->callCount(Op::removeCredential), 1);
}

TEST_F(AppModelAccountsTest, DisconnectingDuringItsReconnectLeavesNoCredentialBehind) {
    const StorageAccount work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
    storeAccounts({work});
    AppModel& app = build();
    drive->setConnection(connection(work.providerAccountID));
    auto gate = drive->gateNext(Op::connect);
    app.reconnect(work.id);
    ASSERT_TRUE(gate->waitEntered());
    bool done = false;
    app.disconnect(work.id, [&] { done = true; });
    gate->release();
    waitFor([&] { return done && !app.isConnecting(); });
    EXPECT_FALSE(app.accounts()->account(work.id));
    EXPECT_FALSE(drive->storedCredentials().contains(work.id));
    EXPECT_FALSE(app.presentedError());
}

TEST_F(AppModelAccountsTest, AReconnectFailureCarriesTheAccountForItsRecovery) {
    const StorageAccount work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
    storeAccounts({work});
    AppModel& app = build();
    drive->failNext(Op::connect, StorageError(Code::network));
    app.reconnect(work.id);
    EXPECT_EQ(app.connectingKind(), ProviderKind::googleDrive);
    waitFor([&] { return !app.isConnecting(); });
    ASSERT_TRUE(app.presentedError());
    EXPECT_EQ(app.presentedError()->accountID, work.id);
    app.reconnect(QUuid::createUuid()); // unknown: nothing
    EXPECT_FALSE(app.isConnecting());
}

TEST_F(AppModelAccountsTest, ObservedPropertiesNotifyOnlyOnRealChanges) {
    AppModel& app = build();
    QSignalSpy selection(&app, &AppModel::selectionChanged);
    QSignalSpy notice(&app, &AppModel::noticeChanged);
    QSignalSpy onboarding(&app, &AppModel::hasCompletedOnboardingChanged);
    QSignalSpy state(&app, &AppModel::stateChanged);
    app.setSelection(SidebarItem::home());
    EXPECT_EQ(selection.count(), 0);
    app.setNotice(Notice::make(QStringLiteral("a"), QStringLiteral("b")));
    app.setNotice(Notice::make(QStringLiteral("a"), QStringLiteral("b")));
    EXPECT_EQ(notice.count(), 2);
    defaults->remove(QStringLiteral("hasCompletedOnboarding"));
    app.setHasCompletedOnboarding(false);
    EXPECT_EQ(onboarding.count(), 0);
    EXPECT_TRUE(defaults->contains(QStringLiteral("hasCompletedOnboarding"))); // written anyway
    // Several changes in one turn: one coalesced update.
    app.setSelection(SidebarItem::uploads());
    app.setUploadsPopoverShown(true);
    QCoreApplication::processEvents();
    EXPECT_EQ(state.count(), 1);
}

} // namespace
