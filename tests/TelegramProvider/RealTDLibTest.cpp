// The real TDLib library (installed by scripts/setup.sh into .deps/tdlib): what works without
// network runs directly; whatever lets TDLib past "setTdlibParameters" runs only inside an
// empty network namespace (the test re-runs itself under `unshare --net`), so nothing is ever
// sent anywhere.
#include "TelegramProvider/TelegramStorageProvider.h"
#include "tests/TelegramProvider/TelegramTestSupport.h"
#include "tests/support/InMemorySecretStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <future>
#include <thread>

#include <gtest/gtest.h>

using namespace tw;
using namespace tw::test;
using Code = StorageError::Code;

#if defined(__SANITIZE_ADDRESS__)
// TDLib keeps (and does not free) memory of its closed instances until the process ends.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libtdjson.so\n";
}
#endif

namespace {

const char* namespaceFlag = "TW_IN_EMPTY_NETWORK_NAMESPACE";

bool inCI() {
    return qEnvironmentVariable("CI") == QLatin1String("true");
}

QString realPath() {
    return QStringLiteral(TW_REAL_TDJSON_PATH);
}

/// The runtime over the real library; null (and the test skipped) where it is not installed.
std::shared_ptr<TDJSONRuntime> realRuntime() {
    static std::shared_ptr<TDJSONRuntime> runtime = [] {
        if (!QFileInfo::exists(realPath()))
            return std::shared_ptr<TDJSONRuntime>();
        qputenv("TDJSON_PATH", realPath().toLocal8Bit());
        return TDJSONRuntime::create(TDJSONRuntime::defaultCandidates()).runtime;
    }();
    return runtime;
}

#define REQUIRE_REAL_TDLIB()                                                                       \
    do {                                                                                           \
        if (!QFileInfo::exists(realPath())) {                                                      \
            if (inCI())                                                                            \
                FAIL() << "TDLib is not installed at " << realPath().toStdString();                \
            GTEST_SKIP() << "TDLib is not installed at " << realPath().toStdString()               \
                         << " (run scripts/setup.sh deps)";                                        \
        }                                                                                          \
        ASSERT_TRUE(realRuntime()) << "TDLib at " << realPath().toStdString() << " did not load";  \
    } while (false)

TelegramTimeLimits realLimits() {
    TelegramTimeLimits limits;
    limits.close = std::chrono::seconds(20);
    limits.logOut = std::chrono::seconds(5);
    limits.settle = std::chrono::seconds(5);
    return limits;
}

QStringList networkInterfaces() {
    QFile dev(QStringLiteral("/proc/net/dev"));
    if (!dev.open(QIODevice::ReadOnly))
        return {QStringLiteral("?")};
    QStringList names;
    const QList<QByteArray> lines = dev.readAll().split('\n');
    for (const QByteArray& line : lines.mid(2)) {
        const int colon = line.indexOf(':');
        if (colon > 0)
            names.append(QString::fromLatin1(line.left(colon).trimmed()));
    }
    return names;
}

auto within(std::chrono::seconds seconds) {
    return std::chrono::steady_clock::now() + seconds;
}

#if defined(__SANITIZE_THREAD__)
#define SKIP_UNDER_TSAN()                                                                          \
    GTEST_SKIP() << "TDLib is not built with ThreadSanitizer and does not run under it"
#else
#define SKIP_UNDER_TSAN()                                                                          \
    do {                                                                                           \
    } while (false)
#endif

} // namespace

TEST(RealTDLib, LoadsAndExecutesSynchronousRequests) {
    SKIP_UNDER_TSAN();
    REQUIRE_REAL_TDLIB();
    auto runtime = realRuntime();
    EXPECT_EQ(runtime->libraryPath(), realPath());
    const auto version = runtime->version();
    ASSERT_TRUE(version);
    EXPECT_TRUE(QRegularExpression("^\\d+\\.\\d+\\.\\d+$").match(*version).hasMatch())
        << version->toStdString();

    const auto entities =
        runtime->execute(TDObject(QStringLiteral("getTextEntities"),
                                  {{"text", "@telegram /test_command https://telegram.org"}}));
    ASSERT_TRUE(entities);
    EXPECT_EQ(entities->type(), QStringLiteral("textEntities"));
    EXPECT_EQ(entities->objects("entities").size(), 3);
    EXPECT_EQ(runtime
                  ->execute(TDObject(QStringLiteral("setLogVerbosityLevel"),
                                     {{"new_verbosity_level", 0}}))
                  ->type(),
              QStringLiteral("ok"));
    const auto refused = runtime->execute(TDObject(QStringLiteral("getMe"), {}));
    ASSERT_TRUE(refused);
    EXPECT_TRUE(refused->isError());
}

TEST(RealTDLib, RoutesRepliesAndUpdatesOfSeveralClients) {
    SKIP_UNDER_TSAN();
    REQUIRE_REAL_TDLIB();
    auto runtime = realRuntime();
    auto first = std::make_shared<TelegramSession>(runtime->makeClient(), QString(), QByteArray(),
                                                   testConfiguration(), realLimits(), testDevice());
    auto second =
        std::make_shared<TelegramSession>(runtime->makeClient(), QString(), QByteArray(),
                                          testConfiguration(), realLimits(), testDevice());
    for (const auto& session : {first, second}) {
        session->startListening();
        // TDLib's first state arrives as an update, routed by "@client_id".
        EXPECT_EQ(
            session->authorizationState(std::nullopt, within(std::chrono::seconds(20)))->type(),
            QStringLiteral("authorizationStateWaitTdlibParameters"));
        const TDObject reply =
            session->client()->send(TDObject(QStringLiteral("getOption"), {{"name", "version"}}),
                                    within(std::chrono::seconds(20)));
        EXPECT_EQ(reply.string("@extra"), QStringLiteral("r1"));
        EXPECT_EQ(reply.string("value"), runtime->version());
        // Before its parameters TDLib refuses everything else, as an error reply.
        try {
            session->client()->send(TDObject(QStringLiteral("getChat"), {{"chat_id", 1}}),
                                    within(std::chrono::seconds(20)));
            ADD_FAILURE() << "no error";
        } catch (const TDError& error) {
            EXPECT_EQ(error.code(), 400);
            EXPECT_FALSE(error.message().isEmpty());
        }
    }
    // Closing works before any parameters; TDLib reports the instance closed.
    first->client()->send(TDObject(QStringLiteral("close"), {}), within(std::chrono::seconds(20)));
    auto state = first->authorizationState(QStringLiteral("authorizationStateWaitTdlibParameters"),
                                           within(std::chrono::seconds(20)));
    while (state && state->type() != QLatin1String("authorizationStateClosed"))
        state = first->authorizationState(state->type(), within(std::chrono::seconds(20)));
    ASSERT_TRUE(state);
    first->terminate(false);
    second->terminate(false);
    EXPECT_EQ(runtime->liveClientCount(), 0);
}

namespace {

/// Runs the tests matching filter again in a child of this program inside an empty network
/// namespace (unshare --net); the child must pass exactly one test. Skips where no such
/// namespace can be made, except in CI.
void runInEmptyNetworkNamespace(const char* filter, int timeoutMs) {
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(namespaceFlag, "1");
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QStringLiteral("unshare"),
                {QStringLiteral("--net"), QCoreApplication::applicationFilePath(),
                 QStringLiteral("--gtest_also_run_disabled_tests"),
                 QStringLiteral("--gtest_filter=") + QLatin1String(filter)});
    ASSERT_TRUE(child.waitForFinished(timeoutMs)) << "the namespaced run did not finish";
    const QString output = QString::fromLocal8Bit(child.readAll());
    if (child.exitStatus() == QProcess::NormalExit && child.exitCode() != 0 &&
        output.startsWith(QLatin1String("unshare:"))) {
        if (inCI())
            FAIL() << "no empty network namespace: " << output.toStdString();
        GTEST_SKIP() << "no empty network namespace here (unshare --net needs root): "
                     << output.trimmed().toStdString();
    }
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
}

} // namespace

TEST(RealTDLib, SessionsOfflineInAnEmptyNetworkNamespace) {
    SKIP_UNDER_TSAN();
    REQUIRE_REAL_TDLIB();
    if (qEnvironmentVariableIsSet(namespaceFlag))
        GTEST_SKIP() << "already inside the namespace";
    runInEmptyNetworkNamespace("RealTDLibInNamespace.*", 150000);
}

TEST(RealTDLib, AProcessEndsCleanlyWithoutStoppingTheReceiveThread) {
    SKIP_UNDER_TSAN();
    REQUIRE_REAL_TDLIB();
    // TDLib destroys its client manager at exit: the receive thread must be out of td_receive
    // by then, even when nobody called stopReceiving() (the sessions are closed, as on quit).
    for (int run = 0; run < 3; ++run) {
        QProcess child;
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_also_run_disabled_tests"),
                     QStringLiteral("--gtest_filter=RealTDLibExit.*")});
        ASSERT_TRUE(child.waitForFinished(60000));
        const QString output = QString::fromLocal8Bit(child.readAll());
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << output.toStdString();
        EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    }
}

// Started by the test above: uses TDLib, closes its session and leaves without stopping the
// runtime's receive thread.
TEST(RealTDLibExit, DISABLED_LeaveWhileReceiving) {
    REQUIRE_REAL_TDLIB();
    auto session =
        std::make_shared<TelegramSession>(realRuntime()->makeClient(), QString(), QByteArray(),
                                          testConfiguration(), realLimits(), testDevice());
    session->startListening();
    session->client()->send(TDObject(QStringLiteral("getOption"), {{"name", "version"}}),
                            within(std::chrono::seconds(20)));
    session->terminate(false);
}

// Runs only inside the namespace, started by SessionsOfflineInAnEmptyNetworkNamespace.
TEST(RealTDLibInNamespace, DISABLED_FreshSessionWrongKeyAndClose) {
    ASSERT_TRUE(qEnvironmentVariableIsSet(namespaceFlag))
        << "only runs in an empty network namespace";
    // Refuse to go on unless the loopback is the only interface of this process's network
    // namespace (/proc/net/dev is per namespace; /sys/class/net shows the mount's).
    ASSERT_EQ(networkInterfaces(), QStringList{"lo"}) << "not an empty network namespace";
    REQUIRE_REAL_TDLIB();
    auto runtime = realRuntime();
    QTemporaryDir temp;
    const QString base = temp.path() + "/Telegram";
    const QString sessionID = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QByteArray key(32, '\x2a');

    // A fresh session reaches the phone-number step; close ends it.
    auto fresh =
        std::make_shared<TelegramSession>(runtime->makeClient(), base + "/" + sessionID, key,
                                          testConfiguration(), realLimits(), testDevice());
    EXPECT_EQ(fresh->open().type(), QStringLiteral("authorizationStateWaitPhoneNumber"));
    EXPECT_TRUE(QFileInfo(base + "/" + sessionID + "/db").isDir());
    fresh->terminate(false);
    EXPECT_EQ(runtime->liveClientCount(), 0);

    auto secrets = std::make_shared<InMemorySecretStore>();
    auto presenter = std::make_shared<ScriptedPresenter>();
    presenter->answer = [](const TelegramLoginStep&, const std::optional<QString>&) -> QString {
        throw StorageError(Code::cancelled);
    };
    TelegramStorageProvider provider(testConfiguration(), secrets, presenter, runtime, base,
                                     realLimits());
    const QUuid account = QUuid::createUuid();
    auto quotaError = [&] {
        try {
            provider.quota(account);
        } catch (const StorageError& error) {
            return error;
        }
        return StorageError(Code::invalidName);
    };

    // The same folder with another key: 401 from TDLib, reconnect needed, nothing left open.
    secrets->save(TelegramStorageProvider::Credential{sessionID, QByteArray(32, '\x01')}.toJson(),
                  account.toString(QUuid::WithoutBraces).toUpper());
    EXPECT_EQ(quotaError().code(), Code::reauthRequired);
    EXPECT_EQ(runtime->liveClientCount(), 0);

    // The right key but never signed in: reconnect needed, the session closed again.
    secrets->save(TelegramStorageProvider::Credential{sessionID, key}.toJson(),
                  account.toString(QUuid::WithoutBraces).toUpper());
    EXPECT_EQ(quotaError().code(), Code::reauthRequired);
    EXPECT_EQ(runtime->liveClientCount(), 0);

    // A sign-in gets as far as asking for the number; cancelling it leaves no folder.
    try {
        provider.connect(std::nullopt);
        ADD_FAILURE() << "signed in offline";
    } catch (const StorageError& error) {
        EXPECT_EQ(error.code(), Code::authorizationCancelled);
    }
    ASSERT_EQ(presenter->prompts().size(), 1);
    EXPECT_EQ(presenter->prompts().first().step, TelegramLoginStep::phone());
    EXPECT_EQ(provider.sessionFolderCount(), 1) << "only the first session's folder";
    EXPECT_EQ(runtime->liveClientCount(), 0);
}

// TDLib aborts a process that exits while one of its instances is open or closing. Children of
// this program exit right after a close that was cancelled, during a sign-in after the quit
// path closed the sessions, and during a sign-in nobody closed; none may end in an abort.
TEST(RealTDLib, ProcessesExitWithoutAnAbortWhileInstancesClose) {
    SKIP_UNDER_TSAN();
    REQUIRE_REAL_TDLIB();
    if (qEnvironmentVariableIsSet(namespaceFlag))
        GTEST_SKIP() << "already inside the namespace";
    runInEmptyNetworkNamespace("RealTDLibExitInNamespace.*", 280000);
}

namespace {

const char* exitFolderVariable = "TW_EXIT_TEST_FOLDER";

/// A provider with a sign-in parked for good: reachable until the process ends.
TelegramStorageProvider* parkedProvider = nullptr;

/// Checks that this process runs in the empty network namespace; the real library is loaded.
#define REQUIRE_EMPTY_NAMESPACE()                                                                  \
    do {                                                                                           \
        ASSERT_TRUE(qEnvironmentVariableIsSet(namespaceFlag))                                      \
            << "only runs in an empty network namespace";                                          \
        ASSERT_EQ(networkInterfaces(), QStringList{"lo"}) << "not an empty network namespace";     \
        REQUIRE_REAL_TDLIB();                                                                      \
    } while (false)

/// A folder for one child's session, inside the folder its parent removes when all are done
/// (a folder removed while TDLib still closes the instance would be a different fault).
QString childSessionFolder() {
    return qEnvironmentVariable(exitFolderVariable) + QLatin1Char('/') +
           QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

/// A sign-in on a thread of its own that stays at the phone-number step (its user never
/// answers); returns once TDLib asks for the number. The provider is left to the process's
/// end, as the application leaves a sign-in parked in its sheet.
TelegramStorageProvider* signInParkedAtThePhoneNumber() {
    auto asked = std::make_shared<std::promise<void>>();
    auto presenter = std::make_shared<ScriptedPresenter>();
    presenter->answer = [asked](const TelegramLoginStep&, const std::optional<QString>&) {
        asked->set_value();
        for (;;)
            std::this_thread::sleep_for(std::chrono::hours(1));
        return QString();
    };
    auto* provider = new TelegramStorageProvider(
        testConfiguration(), std::make_shared<InMemorySecretStore>(), presenter, realRuntime(),
        qEnvironmentVariable(exitFolderVariable) + QStringLiteral("/Telegram"), realLimits());
    parkedProvider = provider;
    std::thread([provider] {
        try {
            provider->connect(std::nullopt);
        } catch (...) {
        }
    }).detach();
    const auto status = asked->get_future().wait_for(std::chrono::seconds(60));
    EXPECT_EQ(status, std::future_status::ready) << "TDLib never asked for the phone number";
    return provider;
}

} // namespace

// Inside the namespace: many children, a few at a time.
TEST(RealTDLibExitInNamespace, DISABLED_ChildrenExitWithoutAnAbort) {
    REQUIRE_EMPTY_NAMESPACE();
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QStringList scenarios = {QStringLiteral("AfterACancelledClose"),
                                   QStringLiteral("DuringASignInAfterClosingAll"),
                                   QStringLiteral("DuringASignInNobodyClosed")};
    constexpr int runsPerScenario = 5;
    constexpr int atOnce = 4;
    QStringList queue;
    for (int run = 0; run < runsPerScenario; ++run)
        queue.append(scenarios);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(exitFolderVariable, folder.path());
    while (!queue.isEmpty()) {
        std::vector<std::unique_ptr<QProcess>> batch;
        QStringList names;
        for (int i = 0; i < atOnce && !queue.isEmpty(); ++i) {
            const QString scenario = queue.takeFirst();
            auto child = std::make_unique<QProcess>();
            child->setProcessEnvironment(environment);
            child->setProcessChannelMode(QProcess::MergedChannels);
            child->start(
                QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_also_run_disabled_tests"),
                 QStringLiteral("--gtest_filter=RealTDLibExitChild.DISABLED_") + scenario});
            batch.push_back(std::move(child));
            names.append(scenario);
        }
        for (size_t i = 0; i < batch.size(); ++i) {
            QProcess& child = *batch[i];
            ASSERT_TRUE(child.waitForFinished(120000)) << names[int(i)].toStdString();
            const QString output = QString::fromLocal8Bit(child.readAll());
            EXPECT_EQ(child.exitStatus(), QProcess::NormalExit)
                << names[int(i)].toStdString() << " ended by a signal\n"
                << output.toStdString();
            EXPECT_EQ(child.exitCode(), 0) << names[int(i)].toStdString() << "\n"
                                           << output.toStdString();
            EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
        }
    }
}

// The children: each leaves as soon as its scenario is set up; the process's exit follows.
TEST(RealTDLibExitChild, DISABLED_AfterACancelledClose) {
    REQUIRE_EMPTY_NAMESPACE();
    auto session = std::make_shared<TelegramSession>(
        realRuntime()->makeClient(), childSessionFolder(), QByteArray(32, '\x2a'),
        testConfiguration(), realLimits(), testDevice());
    ASSERT_EQ(session->open().type(), QStringLiteral("authorizationStateWaitPhoneNumber"));
    std::stop_source stop;
    stop.request_stop();
    Cancellation::Scope cancelled(stop.get_token());
    session->terminate(false);
}

TEST(RealTDLibExitChild, DISABLED_DuringASignInAfterClosingAll) {
    REQUIRE_EMPTY_NAMESPACE();
    TelegramStorageProvider* provider = signInParkedAtThePhoneNumber();
    // The quit path: every session closed, the sign-in in progress too, then the receive
    // thread stopped within its bound.
    provider->closeAllSessions();
    EXPECT_EQ(realRuntime()->openInstanceCount(), 0);
    EXPECT_TRUE(realRuntime()->stopReceiving(5.0));
}

TEST(RealTDLibExitChild, DISABLED_DuringASignInNobodyClosed) {
    REQUIRE_EMPTY_NAMESPACE();
    signInParkedAtThePhoneNumber();
    EXPECT_EQ(realRuntime()->openInstanceCount(), 1);
}
