#include "StorageCore/Domain/ProviderRouter.h"
#include "StorageCore/Concurrency/Completion.h"

#include "tests/support/FakeStorageProvider.h"

#include "tests/support/QtPrinters.h"
#include <gmock/gmock.h>

#include <gtest/gtest.h>

#include <functional>
#include <thread>

using namespace tw;
using namespace std::chrono_literals;
using Code = StorageError::Code;
using test::FakeStorageProvider;
using ::testing::_;
using ::testing::Eq;
using ::testing::Return;

namespace {

class MockProvider : public StorageProvider {
public:
    MOCK_METHOD(ProviderConnection, connect, (const std::optional<QString>&), (override));
    MOCK_METHOD(ProviderConnection, connect, (ProviderKind, const std::optional<QString>&),
                (override));
    MOCK_METHOD(void, storeCredential, (const ProviderCredential&, const QUuid&), (override));
    MOCK_METHOD(void, removeCredential, (const QUuid&, bool), (noexcept, override));
    MOCK_METHOD(StorageQuota, quota, (const QUuid&), (override));
    MOCK_METHOD(Page, listFolder,
                (const QUuid&, const std::optional<QString>&, const std::optional<QString>&),
                (override));
    MOCK_METHOD(Page, search, (const QUuid&, const QString&, const std::optional<QString>&),
                (override));
    MOCK_METHOD(Page, listCategory, (const QUuid&, FileCategory, const std::optional<QString>&),
                (override));
    MOCK_METHOD(FileItem, createFolder,
                (const QUuid&, const QString&, const std::optional<QString>&), (override));
    MOCK_METHOD(FileItem, rename, (const FileRef&, const QString&), (override));
    MOCK_METHOD(FileItem, move, (const FileRef&, const std::optional<QString>&, const QString&),
                (override));
    MOCK_METHOD(void, trash, (const FileRef&), (override));
    MOCK_METHOD(FileItem, upload,
                (const QUuid&, const LocalFile&, const std::optional<QString>&,
                 const ProgressCallback&),
                (override));
    MOCK_METHOD(void, download, (const FileRef&, const QUrl&, const ProgressCallback&), (override));
    MOCK_METHOD(QByteArray, read, (const FileRef&, ByteRange), (override));
    MOCK_METHOD(void, exportFile, (const FileRef&, const QString&, const QUrl&), (override));
    MOCK_METHOD(std::optional<QByteArray>, thumbnail, (const FileItem&, int), (override));
};

ProviderConnection connection(const QString& id, ProviderKind kind) {
    return ProviderConnection{id, id + QStringLiteral("@example.com"), std::nullopt, std::nullopt,
                              ProviderCredential{"payload", kind}};
}

/// Every account-addressed operation, called through the router for one account.
struct AccountOp {
    const char* name;
    std::function<void(StorageProvider&, const QUuid&)> call;
};

const FileRef refOf(const QUuid& account) {
    return FileRef{account, QStringLiteral("item")};
}

QList<AccountOp> accountOps() {
    return {
        {"quota", [](StorageProvider& p, const QUuid& a) { p.quota(a); }},
        {"listFolder", [](StorageProvider& p, const QUuid& a) { p.listFolder(a, {}, {}); }},
        {"search",
         [](StorageProvider& p, const QUuid& a) { p.search(a, QStringLiteral("q"), {}); }},
        {"listCategory",
         [](StorageProvider& p, const QUuid& a) { p.listCategory(a, FileCategory::photos, {}); }},
        {"createFolder",
         [](StorageProvider& p, const QUuid& a) { p.createFolder(a, QStringLiteral("n"), {}); }},
        {"rename",
         [](StorageProvider& p, const QUuid& a) { p.rename(refOf(a), QStringLiteral("n")); }},
        {"move",
         [](StorageProvider& p, const QUuid& a) { p.move(refOf(a), {}, QStringLiteral("dest")); }},
        {"trash", [](StorageProvider& p, const QUuid& a) { p.trash(refOf(a)); }},
        {"upload",
         [](StorageProvider& p, const QUuid& a) { p.upload(a, LocalFile{}, {}, [](qint64) {}); }},
        {"download",
         [](StorageProvider& p, const QUuid& a) { p.download(refOf(a), QUrl(), [](qint64) {}); }},
        {"read",
         [](StorageProvider& p, const QUuid& a) {
             p.read(refOf(a), ByteRange{0, 1});
         }},
        {"exportFile",
         [](StorageProvider& p, const QUuid& a) {
             p.exportFile(refOf(a), QStringLiteral("application/pdf"), QUrl());
         }},
        {"thumbnail",
         [](StorageProvider& p, const QUuid& a) {
             FileItem item;
             item.ref = refOf(a);
             p.thumbnail(item, 64);
         }},
    };
}

StorageError errorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const StorageError& error) {
        return error;
    }
    ADD_FAILURE() << "no error";
    return StorageError(Code::server);
}

TEST(ProviderRouter, AccountOperationsGoToTheRegisteredBackEnd) {
    auto drive = std::make_shared<FakeStorageProvider>();
    auto telegram = std::make_shared<FakeStorageProvider>();
    ProviderRouter router({{ProviderKind::googleDrive, drive}, {ProviderKind::telegram, telegram}});
    const QUuid driveAccount = QUuid::createUuid();
    const QUuid telegramAccount = QUuid::createUuid();
    router.registerAccount(driveAccount, ProviderKind::googleDrive);
    router.registerAccount(telegramAccount, ProviderKind::telegram);
    drive->addItem(FileItem{refOf(driveAccount),
                            QStringLiteral("a.txt"),
                            QStringLiteral("text/plain"),
                            2,
                            std::nullopt,
                            {},
                            std::nullopt,
                            std::nullopt},
                   "ab");
    telegram->addItem(FileItem{refOf(telegramAccount),
                               QStringLiteral("b.txt"),
                               QStringLiteral("text/plain"),
                               2,
                               std::nullopt,
                               {},
                               std::nullopt,
                               std::nullopt},
                      "cd");

    EXPECT_EQ(router.read(refOf(driveAccount), ByteRange{1, 2}), QByteArray("b"));
    EXPECT_EQ(router.read(refOf(telegramAccount), ByteRange{0, 1}), QByteArray("c"));
    for (const AccountOp& op : accountOps()) {
        drive->clearCalls();
        telegram->clearCalls();
        try {
            op.call(router, driveAccount);
        } catch (const StorageError&) {
            // the fake's own answer (e.g. notSupported) is passed on; only routing matters
        }
        EXPECT_EQ(drive->calls().size(), 1) << op.name;
        EXPECT_TRUE(telegram->calls().isEmpty()) << op.name;
    }
}

TEST(ProviderRouter, UnregisteredAccountsNeedSignInAndMissingBackEndsAreNotConfigured) {
    auto telegram = std::make_shared<FakeStorageProvider>();
    ProviderRouter router({{ProviderKind::telegram, telegram}});
    const QUuid unknown = QUuid::createUuid();
    const QUuid driveAccount = QUuid::createUuid();
    router.registerAccount(driveAccount, ProviderKind::googleDrive);
    for (const AccountOp& op : accountOps()) {
        EXPECT_EQ(errorOf([&] { op.call(router, unknown); }).code(), Code::reauthRequired)
            << op.name;
        EXPECT_EQ(errorOf([&] { op.call(router, driveAccount); }).code(), Code::notConfigured)
            << op.name;
    }
    EXPECT_TRUE(telegram->calls().isEmpty());
}

TEST(ProviderRouter, EmptyRouter) {
    ProviderRouter router({});
    EXPECT_FALSE(router.supports(ProviderKind::googleDrive));
    EXPECT_FALSE(router.supports(ProviderKind::telegram));
    EXPECT_EQ(errorOf([&] { router.connect(std::nullopt); }).code(), Code::notConfigured);
    EXPECT_EQ(errorOf([&] { router.connect(ProviderKind::telegram, std::nullopt); }).code(),
              Code::notConfigured);
    EXPECT_EQ(errorOf([&] {
                  router.storeCredential(ProviderCredential{"x", ProviderKind::telegram},
                                         QUuid::createUuid());
              }).code(),
              Code::notConfigured);
    EXPECT_EQ(errorOf([&] { router.quota(QUuid::createUuid()); }).code(), Code::reauthRequired);
    router.removeCredential(QUuid::createUuid(), true); // never throws
}

TEST(ProviderRouter, ConnectDispatchesByKindAndPlainConnectUsesGoogleDrive) {
    auto drive = std::make_shared<MockProvider>();
    auto telegram = std::make_shared<MockProvider>();
    ProviderRouter router({{ProviderKind::googleDrive, drive}, {ProviderKind::telegram, telegram}});
    EXPECT_TRUE(router.supports(ProviderKind::telegram));
    EXPECT_CALL(*drive, connect(ProviderKind::googleDrive,
                                Eq(std::optional<QString>(QStringLiteral("hint")))))
        .WillOnce(Return(connection(QStringLiteral("g"), ProviderKind::googleDrive)));
    EXPECT_CALL(*telegram, connect(ProviderKind::telegram, Eq(std::optional<QString>())))
        .WillOnce(Return(connection(QStringLiteral("t"), ProviderKind::telegram)));
    EXPECT_CALL(*telegram, connect(ProviderKind::googleDrive, _)).Times(0);
    EXPECT_EQ(router.connect(QStringLiteral("hint")).providerAccountID, QStringLiteral("g"));
    EXPECT_EQ(router.connect(ProviderKind::telegram, std::nullopt).providerAccountID,
              QStringLiteral("t"));
}

TEST(ProviderRouter, StoringACredentialRegistersTheAccountOnlyOnSuccess) {
    auto drive = std::make_shared<FakeStorageProvider>();
    auto telegram = std::make_shared<FakeStorageProvider>();
    ProviderRouter router({{ProviderKind::googleDrive, drive}, {ProviderKind::telegram, telegram}});
    const QUuid account = QUuid::createUuid();

    telegram->failNext(FakeStorageProvider::Op::storeCredential, StorageError(Code::server));
    EXPECT_EQ(errorOf([&] {
                  router.storeCredential(ProviderCredential{"x", ProviderKind::telegram}, account);
              }).code(),
              Code::server);
    EXPECT_EQ(errorOf([&] { router.quota(account); }).code(), Code::reauthRequired);

    router.storeCredential(ProviderCredential{"x", ProviderKind::telegram}, account);
    router.quota(account);
    EXPECT_EQ(telegram->callCount(FakeStorageProvider::Op::quota), 1);

    // A later credential of the other kind moves the account there; a failed one does not.
    drive->failNext(FakeStorageProvider::Op::storeCredential, StorageError(Code::network));
    EXPECT_THROW(
        router.storeCredential(ProviderCredential{"y", ProviderKind::googleDrive}, account),
        StorageError);
    router.quota(account);
    EXPECT_EQ(telegram->callCount(FakeStorageProvider::Op::quota), 2);
    router.registerAccount(account, ProviderKind::googleDrive);
    router.quota(account);
    EXPECT_EQ(drive->callCount(FakeStorageProvider::Op::quota), 1);
}

TEST(ProviderRouter, RemovingACredentialForgetsTheAccount) {
    auto drive = std::make_shared<FakeStorageProvider>();
    ProviderRouter router({{ProviderKind::googleDrive, drive}});
    const QUuid account = QUuid::createUuid();

    router.removeCredential(account, true); // unregistered: nobody is called
    EXPECT_EQ(drive->callCount(FakeStorageProvider::Op::removeCredential), 0);

    router.storeCredential(ProviderCredential{"x", ProviderKind::googleDrive}, account);
    router.removeCredential(account, true);
    EXPECT_EQ(
        drive->calls().last(),
        QStringLiteral("removeCredential(%1,revoke)").arg(account.toString(QUuid::WithoutBraces)));
    EXPECT_EQ(errorOf([&] { router.quota(account); }).code(), Code::reauthRequired);

    // Registered with a kind that has no back end: nothing is called and nothing thrown.
    const QUuid orphan = QUuid::createUuid();
    router.registerAccount(orphan, ProviderKind::telegram);
    router.removeCredential(orphan, false);
    EXPECT_EQ(errorOf([&] { router.quota(orphan); }).code(), Code::notConfigured);
}

TEST(ProviderRouter, ArgumentsAndProgressPassThroughUnchanged) {
    auto drive = std::make_shared<MockProvider>();
    ProviderRouter router({{ProviderKind::googleDrive, drive}});
    const QUuid account = QUuid::createUuid();
    router.registerAccount(account, ProviderKind::googleDrive);
    const FileRef ref{account, QStringLiteral("f1")};
    EXPECT_CALL(*drive,
                move(ref, Eq(std::optional<QString>(QStringLiteral("from"))), QStringLiteral("to")))
        .WillOnce(Return(
            FileItem{ref, QStringLiteral("moved"), QStringLiteral("x/y"), {}, {}, {}, {}, {}}));
    EXPECT_EQ(router.move(ref, QStringLiteral("from"), QStringLiteral("to")).name,
              QStringLiteral("moved"));

    EXPECT_CALL(*drive, upload(account, _, Eq(std::optional<QString>()), _))
        .WillOnce([](const QUuid&, const LocalFile&, const std::optional<QString>&,
                     const ProgressCallback& progress) {
            progress(5);
            progress(10);
            return FileItem{};
        });
    QList<qint64> seen;
    router.upload(account, LocalFile{}, std::nullopt, [&](qint64 n) { seen.append(n); });
    EXPECT_EQ(seen, (QList<qint64>{5, 10}));

    EXPECT_CALL(*drive, read(ref, ByteRange{3, 9})).WillOnce(Return(QByteArray("abcdef")));
    EXPECT_EQ(router.read(ref, ByteRange{3, 9}), QByteArray("abcdef"));
    EXPECT_CALL(*drive, quota(account)).WillOnce([]() -> StorageQuota {
        throw StorageError::fileTooLarge(1);
    });
    EXPECT_EQ(errorOf([&] { router.quota(account); }), StorageError::fileTooLarge(1));
}

TEST(ProviderRouter, LockIsNotHeldAcrossABackEndCall) {
    // A back end parked inside a call must not hold up registrations or other accounts, and
    // a back end may call into the router again.
    auto drive = std::make_shared<FakeStorageProvider>();
    auto router = std::make_shared<ProviderRouter>(
        ProviderRouter::Providers{{ProviderKind::googleDrive, drive}});
    const QUuid slow = QUuid::createUuid();
    const QUuid other = QUuid::createUuid();
    router->registerAccount(slow, ProviderKind::googleDrive);
    router->registerAccount(other, ProviderKind::googleDrive);
    auto gate = drive->gateNext(FakeStorageProvider::Op::quota);
    std::thread parked([&] { router->quota(slow); });
    ASSERT_TRUE(gate->waitEntered());

    Completion<std::monostate> done;
    std::thread meanwhile([&] {
        router->registerAccount(QUuid::createUuid(), ProviderKind::telegram);
        router->quota(other);
        router->removeCredential(other, false);
        done.resolve({});
    });
    EXPECT_TRUE(done.waitFor(5s).has_value());
    gate->release();
    parked.join();
    meanwhile.join();
}

TEST(ProviderRouter, ABackEndMayCallIntoTheRouterAgain) {
    auto drive = std::make_shared<MockProvider>();
    ProviderRouter router({{ProviderKind::googleDrive, drive}});
    const QUuid account = QUuid::createUuid();
    const QUuid other = QUuid::createUuid();
    router.registerAccount(account, ProviderKind::googleDrive);
    router.registerAccount(other, ProviderKind::googleDrive);
    EXPECT_CALL(*drive, quota(account)).WillOnce([&](const QUuid&) {
        router.registerAccount(QUuid::createUuid(), ProviderKind::googleDrive);
        return router.quota(other);
    });
    EXPECT_CALL(*drive, quota(other)).WillOnce(Return(StorageQuota{7}));
    EXPECT_EQ(router.quota(account), StorageQuota(7));
}

} // namespace
