// One application per data folder: the lock and the activation socket in this process, then
// the real executable started twice over one private set of XDG folders, a holder killed with
// SIGKILL, and the self-check run while the application holds the folder.
#include "App/Shell/ActivationListener.h"
#include "App/Shell/InstanceLock.h"
#include "StorageCore/Concurrency/Completion.h"
#include "StorageCore/Concurrency/TaskRunner.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>

using namespace tw;
using namespace std::chrono_literals;

namespace {

TEST(InstanceLock, OneHolderPerFolderAndTheLockGoesWithItsHolder) {
    QTemporaryDir root;
    const QString folder = root.filePath(QStringLiteral("data/Tessarow"));
    {
        InstanceLock first = InstanceLock::tryAcquire(folder);
        ASSERT_EQ(first.state(), InstanceLock::State::held);
        EXPECT_GE(first.listenerHandle(), 0);
        EXPECT_EQ(QFileInfo(folder).permissions() & QFileDevice::ReadOther, 0);
        // flock belongs to the open file, so even this process cannot take it twice.
        InstanceLock second = InstanceLock::tryAcquire(folder);
        EXPECT_EQ(second.state(), InstanceLock::State::heldElsewhere);
        EXPECT_EQ(second.listenerHandle(), -1);
        // Another folder is another lock.
        EXPECT_EQ(InstanceLock::tryAcquire(root.filePath(QStringLiteral("other"))).state(),
                  InstanceLock::State::held);
    }
    EXPECT_EQ(InstanceLock::tryAcquire(folder).state(), InstanceLock::State::held);
    EXPECT_EQ(InstanceLock::tryAcquire(QString()).state(), InstanceLock::State::unavailable);
}

TEST(InstanceLock, AFolderTooDeepForASocketAddressListensInTheRuntimeFolder) {
    QTemporaryDir root;
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    const QString deep =
        root.filePath(QString(120, QLatin1Char('d')) + QStringLiteral("/Tessarow"));
    const QByteArray path = InstanceLock::activationSocketPath(deep);
    EXPECT_TRUE(path.startsWith(QFile::encodeName(runtime.path())));
    EXPECT_EQ(path, InstanceLock::activationSocketPath(deep + QLatin1Char('/')));
    EXPECT_NE(path, InstanceLock::activationSocketPath(deep + QLatin1Char('2')));
    InstanceLock lock = InstanceLock::tryAcquire(deep);
    ASSERT_EQ(lock.state(), InstanceLock::State::held);
    EXPECT_GE(lock.listenerHandle(), 0);
    EXPECT_TRUE(QFileInfo::exists(QFile::decodeName(path)));
    qunsetenv("XDG_RUNTIME_DIR");
}

// A later start (here on a worker, as it blocks) hands its activation and the desktop's token
// to the holder's listener, which answers only once it has taken it.
TEST(InstanceLock, AHandOverReachesTheHolderWithItsToken) {
    QTemporaryDir root;
    const QString folder = root.filePath(QStringLiteral("Tessarow"));
    InstanceLock lock = InstanceLock::tryAcquire(folder);
    ASSERT_EQ(lock.state(), InstanceLock::State::held);
    ActivationListener listener(lock.listenerHandle());
    QSignalSpy requested(&listener, &ActivationListener::activationRequested);

    Completion<bool> handedOver;
    runDetached([folder, handedOver]() mutable {
        handedOver.resolve(InstanceLock::handOver(
            folder, "activate\ntoken XDG_ACTIVATION_TOKEN=abc-123\ntoken EVIL=x\n", 20s));
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return handedOver.isDone(); }, 20'000));
    EXPECT_TRUE(handedOver.wait());
    ASSERT_EQ(requested.size(), 1);
    const auto tokens = requested.first().first().value<QHash<QByteArray, QByteArray>>();
    EXPECT_EQ(tokens, (QHash<QByteArray, QByteArray>{{"XDG_ACTIVATION_TOKEN", "abc-123"}}));

    // Anything else is answered with nothing, and no activation.
    Completion<bool> refused;
    runDetached([folder, refused]() mutable {
        refused.resolve(InstanceLock::handOver(folder, "shutdown\n", 20s));
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return refused.isDone(); }, 20'000));
    EXPECT_FALSE(refused.wait());
    EXPECT_EQ(requested.size(), 1);
}

// ---- the real executable ---------------------------------------------------------------------

class SingleInstanceProcess : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home.isValid());
        for (const char* name : {"data", "config", "cache", "runtime"})
            ASSERT_TRUE(QDir().mkpath(home.filePath(QString::fromLatin1(name))));
    }
    void TearDown() override {
        for (QProcess* process : processes) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(10'000);
            }
            delete process;
        }
    }

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("runtime")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // No keyring here: its calls fail at once instead of reaching the user's.
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                   QStringLiteral("unix:path=/nonexistent"));
        env.insert(QStringLiteral("TDJSON_PATH"), QStringLiteral(TW_FAKE_TDJSON_PATH));
        env.insert(QStringLiteral("TW_GOOGLE_BASE_URL"), QStringLiteral("http://127.0.0.1:1"));
        env.insert(QStringLiteral("QT_LOGGING_RULES"),
                   QStringLiteral("Instance.info=true\nApplication.info=true\nAppModel.info=true"));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        return env;
    }

    QProcess* start(const QStringList& arguments = {}) {
        auto* process = new QProcess;
        processes.append(process);
        process->setProcessEnvironment(environment());
        process->start(QStringLiteral(TW_KELVANOR_PATH), arguments);
        EXPECT_TRUE(process->waitForStarted(30'000));
        return process;
    }

    /// Waits until the process's standard error (collected into errors[process]) holds text.
    bool waitForError(QProcess* process, const QString& text) {
        return QTest::qWaitFor(
                   [&] {
                       errors[process] += QString::fromLocal8Bit(process->readAllStandardError());
                       return errors[process].contains(text) ||
                              process->state() == QProcess::NotRunning;
                   },
                   60'000) &&
               errors[process].contains(text);
    }

    QString dataFolder() const { return home.filePath(QStringLiteral("data/Tessarow")); }

    QTemporaryDir home;
    QList<QProcess*> processes;
    QHash<QProcess*, QString> errors;
};

const QString kServing = QStringLiteral("serving the activations of later starts");
const QString kBroughtForward = QStringLiteral("brought the main window forward");

TEST_F(SingleInstanceProcess, ASecondStartHandsItsActivationToTheFirstAndLeaves) {
    QProcess* first = start();
    ASSERT_TRUE(waitForError(first, kServing)) << errors[first].toStdString();

    QProcess* second = start();
    ASSERT_TRUE(second->waitForFinished(60'000)) << "the second start kept running";
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0);
    const QString secondErrors = QString::fromLocal8Bit(second->readAllStandardError());
    EXPECT_FALSE(secondErrors.contains(kServing)) << secondErrors.toStdString();
    ASSERT_TRUE(waitForError(first, kBroughtForward)) << errors[first].toStdString();
    EXPECT_EQ(first->state(), QProcess::Running);

    // The first still quits through its protocol.
    ::kill(pid_t(first->processId()), SIGTERM);
    ASSERT_TRUE(first->waitForFinished(60'000));
    EXPECT_EQ(first->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first->exitCode(), 0);
}

TEST_F(SingleInstanceProcess, AKilledHolderNeverBlocksTheNextStart) {
    QProcess* first = start();
    ASSERT_TRUE(waitForError(first, kServing)) << errors[first].toStdString();
    ::kill(pid_t(first->processId()), SIGKILL);
    ASSERT_TRUE(first->waitForFinished(60'000));
    // What it left: the lock file and its socket's file.
    EXPECT_TRUE(QFileInfo::exists(dataFolder() + QStringLiteral("/instance.lock")));
    EXPECT_TRUE(QFileInfo::exists(dataFolder() + QStringLiteral("/instance.socket")));

    QProcess* next = start();
    ASSERT_TRUE(waitForError(next, kServing)) << errors[next].toStdString();
    EXPECT_EQ(next->state(), QProcess::Running);
    // And it serves later starts in turn.
    QProcess* later = start();
    ASSERT_TRUE(later->waitForFinished(60'000));
    EXPECT_EQ(later->exitCode(), 0);
    ASSERT_TRUE(waitForError(next, kBroughtForward)) << errors[next].toStdString();
}

// While the application holds the data folder, the self-check leaves the session folders
// alone (a sign-in in progress owns one that no stored account names) and says so.
TEST_F(SingleInstanceProcess, TheSelfCheckLeavesSessionFoldersAloneWhileTheApplicationRuns) {
    QProcess* app = start();
    ASSERT_TRUE(waitForError(app, kServing)) << errors[app].toStdString();
    // Its own start-up clean-up is over.
    ASSERT_TRUE(waitForError(app, QStringLiteral("unused session folders")))
        << errors[app].toStdString();
    const QString signingIn = dataFolder() + QStringLiteral("/Telegram/") +
                              QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    ASSERT_TRUE(QDir().mkpath(signingIn));

    QProcess* check = start({QStringLiteral("-TWSelfCheck")});
    ASSERT_TRUE(check->waitForFinished(120'000));
    EXPECT_EQ(check->exitCode(), 0);
    const QString report = QString::fromUtf8(check->readAllStandardOutput());
    EXPECT_TRUE(report.contains(QStringLiteral(
        "SELFCHECK PASS telegram-cleanup: skipped: Kelvanor is running over this data folder")))
        << report.toStdString();
    EXPECT_TRUE(QFileInfo(signingIn).isDir());
    EXPECT_EQ(app->state(), QProcess::Running);

    // Without the application, the same run cleans up.
    ::kill(pid_t(app->processId()), SIGTERM);
    ASSERT_TRUE(app->waitForFinished(60'000));
    QProcess* alone = start({QStringLiteral("-TWSelfCheck")});
    ASSERT_TRUE(alone->waitForFinished(120'000));
    const QString aloneReport = QString::fromUtf8(alone->readAllStandardOutput());
    EXPECT_TRUE(aloneReport.contains(
        QStringLiteral("SELFCHECK PASS telegram-cleanup: removed 1 unused session folder(s)")))
        << aloneReport.toStdString();
    EXPECT_FALSE(QFileInfo::exists(signingIn));
}

} // namespace
