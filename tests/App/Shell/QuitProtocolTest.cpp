// The quit protocol with fake clean-ups and hooks (short limits instead of 3 s), and its
// wiring in the composed application: the main window's appearance installs the clean-up,
// closing it, the Quit command, SIGTERM and SIGINT all start the protocol.
#include "App/DesignSystem/WindowPlacement.h"
#include "App/Preview/QuickLook.h"
#include "App/Settings/SettingsWindow.h"
#include "App/Shell/AppCommands.h"
#include "App/Shell/Application.h"
#include "App/Shell/MainWindow.h"
#include "App/Shell/QuitController.h"
#include "StorageCore/Concurrency/Cancellation.h"
#include "tests/App/Model/AppModelFixture.h"
#include "tests/App/Preview/RecordingQuickLook.h"
#include "tests/support/PostedResults.h"

#include <QAction>
#include <QApplication>
#include <QMenuBar>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <mutex>

using namespace tw;
using namespace tw::test;
using namespace std::chrono_literals;

namespace {

/// Records what happens, from any thread, in order.
class Journal {
public:
    void add(const QString& entry) {
        std::lock_guard lock(mutex_);
        entries_.append(entry);
    }
    QStringList entries() const {
        std::lock_guard lock(mutex_);
        return entries_;
    }

private:
    mutable std::mutex mutex_;
    QStringList entries_;
};

/// A clean-up that ignores cancellation until the test lets it go.
class StuckCleanup {
public:
    void block() {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return released_; });
    }
    void release() {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
        }
        cv_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool released_ = false;
};

class QuitControllerTest : public ::testing::Test {
protected:
    QuitController& make(QuitController::Limits limits = {200ms, 200ms}, bool withTDLib = true) {
        QuitController::Hooks hooks;
        if (withTDLib)
            hooks.stopReceiving = [this] { journal.add(QStringLiteral("stopReceiving")); };
        hooks.terminate = [this] {
            journal.add(QStringLiteral("terminate"));
            ++terminations;
        };
        controller = std::make_unique<QuitController>(std::move(hooks), limits);
        return *controller;
    }
    bool waitForTermination(std::chrono::milliseconds timeout = 5s) {
        return QTest::qWaitFor([this] { return terminations > 0; }, int(timeout.count()));
    }

    Journal journal;
    int terminations = 0;
    std::unique_ptr<QuitController> controller;
};

TEST_F(QuitControllerTest, WithoutACleanupItTerminatesAtOnce) {
    QuitController& quit = make();
    quit.requestQuit();
    EXPECT_EQ(terminations, 1);
    // Nothing else ran: not even the receive thread is stopped.
    EXPECT_EQ(journal.entries(), QStringList({"terminate"}));
    EXPECT_EQ(quit.state(), QuitController::State::terminated);
    quit.requestQuit(); // a request after termination does nothing
    EXPECT_EQ(terminations, 1);
}

TEST_F(QuitControllerTest, AFastCleanupRunsOnAWorkerThenTheReceiverStopsThenItTerminates) {
    QuitController& quit = make();
    QSignalSpy states(&quit, &QuitController::stateChanged);
    std::atomic<bool> onWorker{false};
    const Qt::HANDLE mainThread = QThread::currentThreadId();
    quit.setPrepareForQuit([&] {
        onWorker = QThread::currentThreadId() != mainThread;
        journal.add(QStringLiteral("cleanup"));
    });
    quit.requestQuit();
    EXPECT_EQ(terminations, 0); // deferred
    ASSERT_TRUE(waitForTermination());
    EXPECT_TRUE(onWorker);
    EXPECT_EQ(journal.entries(), QStringList({"cleanup", "stopReceiving", "terminate"}));
    ASSERT_EQ(states.size(), 3);
    EXPECT_EQ(states.at(0).at(0).value<QuitController::State>(), QuitController::State::cleaningUp);
    EXPECT_EQ(states.at(1).at(0).value<QuitController::State>(), QuitController::State::stoppingReceiver);
    EXPECT_EQ(states.at(2).at(0).value<QuitController::State>(), QuitController::State::terminated);
    EXPECT_FALSE(quit.hasPrepareForQuit()); // taken by the request
}

TEST_F(QuitControllerTest, WithoutTDLibTheReceiverStopIsSkipped) {
    QuitController& quit = make({200ms, 200ms}, /*withTDLib=*/false);
    quit.setPrepareForQuit([this] { journal.add(QStringLiteral("cleanup")); });
    quit.requestQuit();
    ASSERT_TRUE(waitForTermination());
    EXPECT_EQ(journal.entries(), QStringList({"cleanup", "terminate"}));
}

TEST_F(QuitControllerTest, ACleanupPastTheLimitIsCancelledAndAwaited) {
    QuitController& quit = make({150ms, 5000ms});
    std::atomic<bool> sawCancellation{false};
    quit.setPrepareForQuit([&] {
        try {
            Cancellation::sleepFor(30s);
        } catch (const StorageError& error) {
            sawCancellation = error.isCancelled();
        }
        // A cancelled clean-up still finishes its step before it ends.
        std::this_thread::sleep_for(50ms);
        journal.add(QStringLiteral("cleanup ended"));
    });
    QElapsedTimer clock;
    clock.start();
    quit.requestQuit();
    ASSERT_TRUE(waitForTermination());
    EXPECT_TRUE(sawCancellation);
    EXPECT_GE(clock.elapsed(), 150);
    EXPECT_LT(clock.elapsed(), 3000);
    // The receiver is stopped only after the cancelled clean-up has ended.
    EXPECT_EQ(journal.entries(), QStringList({"cleanup ended", "stopReceiving", "terminate"}));
}

TEST_F(QuitControllerTest, ACleanupStuckPastItsCancellationDoesNotKeepTheProcess) {
    QuitController& quit = make({100ms, 150ms});
    auto stuck = std::make_shared<StuckCleanup>();
    quit.setPrepareForQuit([stuck, this] {
        stuck->block();
        journal.add(QStringLiteral("cleanup ended"));
    });
    quit.requestQuit();
    ASSERT_TRUE(waitForTermination());
    EXPECT_EQ(journal.entries(), QStringList({"stopReceiving", "terminate"}));
    // The worker ends later, and its late end changes nothing.
    stuck->release();
    ASSERT_TRUE(deliverPostedResults()); // the clean-up's late end reaches the controller
    EXPECT_EQ(terminations, 1);
    EXPECT_EQ(journal.entries(), QStringList({"stopReceiving", "terminate", "cleanup ended"}));
}

TEST_F(QuitControllerTest, ASecondRequestDuringTheCleanupTerminatesAtOnce) {
    QuitController& quit = make({5000ms, 5000ms});
    auto stuck = std::make_shared<StuckCleanup>();
    quit.setPrepareForQuit([stuck] { stuck->block(); });
    quit.requestQuit();
    EXPECT_EQ(quit.state(), QuitController::State::cleaningUp);
    quit.requestQuit();
    EXPECT_EQ(terminations, 1);
    EXPECT_EQ(quit.state(), QuitController::State::terminated);
    stuck->release();
    ASSERT_TRUE(deliverPostedResults());
    // The first request's clean-up ending later starts nothing more.
    EXPECT_EQ(terminations, 1);
    EXPECT_EQ(journal.entries(), QStringList({"terminate"}));
}

// The documents still being written are waited for (on a worker) before the event loop ends,
// after the receive thread stopped; the real wait covers every write-behind store.
TEST_F(QuitControllerTest, TheDocumentsBeingWrittenAreFlushedBeforeTerminating) {
    QuitController::Hooks hooks;
    hooks.stopReceiving = [this] { journal.add(QStringLiteral("stopReceiving")); };
    hooks.terminate = [this] {
        journal.add(QStringLiteral("terminate"));
        ++terminations;
    };
    auto stuck = std::make_shared<StuckCleanup>();
    std::atomic<bool> onWorker{false};
    const Qt::HANDLE mainThread = QThread::currentThreadId();
    hooks.flushDocuments = [&, stuck] {
        onWorker = QThread::currentThreadId() != mainThread;
        journal.add(QStringLiteral("flush started"));
        stuck->block();
        journal.add(QStringLiteral("flushed"));
    };
    QuitController quit(std::move(hooks), {200ms, 200ms});
    quit.setPrepareForQuit([this] { journal.add(QStringLiteral("cleanup")); });
    quit.requestQuit();
    ASSERT_TRUE(QTest::qWaitFor([&] { return journal.entries().contains("flush started"); }, 5000));
    QCoreApplication::processEvents();
    EXPECT_EQ(terminations, 0);
    stuck->release();
    ASSERT_TRUE(waitForTermination());
    EXPECT_TRUE(onWorker);
    EXPECT_EQ(journal.entries(),
              QStringList({"cleanup", "stopReceiving", "flush started", "flushed", "terminate"}));
}

TEST_F(QuitControllerTest, TheLastInstalledCleanupIsTheOneThatRuns) {
    QuitController& quit = make();
    quit.setPrepareForQuit([this] { journal.add(QStringLiteral("first")); });
    quit.setPrepareForQuit([this] { journal.add(QStringLiteral("second")); });
    quit.requestQuit();
    ASSERT_TRUE(waitForTermination());
    EXPECT_EQ(journal.entries(), QStringList({"second", "stopReceiving", "terminate"}));
}

// ---- the composed application --------------------------------------------------------------

class ComposedApplicationTest : public AppModelFixture {
protected:
    std::unique_ptr<Application> compose(bool watchSignals = false,
                                         bool contentAfterFirstFrame = false) {
        build();
        Application::Parts parts;
        parts.contentAfterFirstFrame = contentAfterFirstFrame;
        parts.model = std::move(model);
        parts.quickLook = &quickLook;
        parts.previewOpener = [this](AppModel&) {
            return OpenPreview([this](const PreviewTarget&) { ++previewsOpened; });
        };
        parts.quitHooks.stopReceiving = [this] { journal.add(QStringLiteral("stopReceiving")); };
        parts.quitHooks.terminate = [this] {
            journal.add(QStringLiteral("terminate"));
            ++terminations;
        };
        parts.quitLimits = {200ms, 200ms};
        parts.watchUnixSignals = watchSignals;
        return std::make_unique<Application>(std::move(parts));
    }

    RecordingQuickLook quickLook;
    Journal journal;
    int terminations = 0;
    int previewsOpened = 0;
};

TEST_F(ComposedApplicationTest, QuittingBeforeTheMainWindowCameOnScreenTerminatesAtOnce) {
    auto app = compose();
    EXPECT_FALSE(app->quitController().hasPrepareForQuit());
    app->commands().quit()->trigger();
    EXPECT_EQ(journal.entries(), QStringList({"terminate"}));
}

// A start's first frame is the bare window: the menus come with the content, built after it,
// and the start-up's background work is handed to the workers only then.
TEST_F(ComposedApplicationTest, TheMenusAndTheStartupWorkComeAfterTheFirstFrame) {
    startupWork = std::make_shared<StartupWork>();
    std::atomic<bool> ran = false;
    startupWork->run([&ran] { ran = true; });
    auto app = compose(/*watchSignals=*/false, /*contentAfterFirstFrame=*/true);
    app->show();
    EXPECT_EQ(app->mainWindow().menuWidget(), nullptr);
    EXPECT_FALSE(startupWork->isReleased());
    ASSERT_TRUE(QTest::qWaitFor([&] { return app->mainWindow().isContentBuilt(); }, 5000));
    ASSERT_NE(app->mainWindow().menuWidget(), nullptr);
    EXPECT_EQ(app->mainWindow().menuBar()->actions().size(), 3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ran.load(); }, 5000));
    EXPECT_TRUE(startupWork->isReleased());
    app->commands().quit()->trigger();
    ASSERT_TRUE(QTest::qWaitFor([this] { return terminations == 1; }, 5000));
}

TEST_F(ComposedApplicationTest, TheMainWindowsAppearanceInstallsTheCleanupAndClosingItQuits) {
    auto app = compose();
    app->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&app->mainWindow()));
    EXPECT_TRUE(app->quitController().hasPrepareForQuit());

    // Closing the window asks to quit; the window stays until the protocol says terminate.
    EXPECT_FALSE(app->mainWindow().close());
    EXPECT_TRUE(app->mainWindow().isVisible());
    EXPECT_EQ(app->quitController().state(), QuitController::State::cleaningUp);
    ASSERT_TRUE(QTest::qWaitFor([this] { return terminations == 1; }, 5000));
    EXPECT_EQ(journal.entries(), QStringList({"stopReceiving", "terminate"}));
    // Once terminated the window may close.
    EXPECT_TRUE(app->mainWindow().close());
}

TEST_F(ComposedApplicationTest, TheQuitCommandRunsTheProtocol) {
    auto app = compose();
    app->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&app->mainWindow()));
    QAction* quit = app->commands().quit();
    EXPECT_EQ(quit->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->trigger();
    ASSERT_TRUE(QTest::qWaitFor([this] { return terminations == 1; }, 5000));
    EXPECT_EQ(journal.entries(), QStringList({"stopReceiving", "terminate"}));
}

TEST_F(ComposedApplicationTest, SigtermAndSigintStartTheProtocol) {
    for (int number : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(number);
        terminations = 0;
        auto app = compose(/*watchSignals=*/true);
        app->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&app->mainWindow()));
        ASSERT_EQ(::raise(number), 0); // handled: the process lives on
        ASSERT_TRUE(QTest::qWaitFor([this] { return terminations == 1; }, 5000));
        EXPECT_EQ(journal.entries().mid(journal.entries().size() - 2),
                  QStringList({"stopReceiving", "terminate"}));
        app.reset(); // the next application installs its own watcher
    }
}

TEST_F(ComposedApplicationTest, SettingsAndAboutEachShowOneWindow) {
    auto app = compose();
    app->show();
    app->commands().settings()->trigger();
    QPointer<SettingsWindow> settings = app->settingsWindow();
    ASSERT_TRUE(settings);
    EXPECT_TRUE(settings->isVisible());
    app->commands().settings()->trigger(); // raised, not another one
    EXPECT_EQ(app->settingsWindow(), settings.data());
    EXPECT_EQ(QApplication::topLevelWidgets().count(settings.data()), 1);
    settings->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return settings.isNull(); })); // deleted on close
    EXPECT_EQ(app->settingsWindow(), nullptr);
    app->commands().settings()->trigger();
    settings = app->settingsWindow();
    EXPECT_TRUE(settings);

    app->commands().about()->trigger();
    app->commands().about()->trigger();
    QList<QPointer<QWidget>> abouts;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String("aboutPanel") && widget->isVisible())
            abouts.append(widget);
    }
    ASSERT_EQ(abouts.size(), 1);
    // Each opens whole on the screen, About as wide as its title needs.
    QWidget* about = abouts.first();
    const QRect area = WindowPlacement::availableArea(about);
    EXPECT_TRUE(area.contains(settings->frameGeometry()));
    EXPECT_TRUE(area.contains(about->frameGeometry()));
    EXPECT_GE(about->width(), WindowPlacement::widthForTitle(about->windowTitle(), area));
    // Closing the application object closes what it opened.
    app.reset();
    EXPECT_TRUE(settings.isNull());
    EXPECT_TRUE(abouts.first().isNull());
}

TEST(LaunchMode, OnlyTheExactArgumentStartsTheSelfCheck) {
    const struct {
        std::vector<const char*> argv;
        LaunchMode mode;
    } cases[] = {
        {{"kelvanor"}, LaunchMode::application},
        {{"kelvanor", "-TWSelfCheck"}, LaunchMode::selfCheck},
        {{"kelvanor", "-TWSelfCheck", "-TWInventory"}, LaunchMode::selfCheck},
        {{"kelvanor", "--", "-TWSelfCheck"}, LaunchMode::selfCheck},
        {{"kelvanor", "-TWSelfCheckNow"}, LaunchMode::application},
        {{"kelvanor", "-TWSELFCHECK"}, LaunchMode::application},
        {{"kelvanor", "-twselfcheck"}, LaunchMode::application},
        {{"kelvanor", "--TWSelfCheck"}, LaunchMode::application},
        {{"kelvanor", "-TWInventory"}, LaunchMode::application},
    };
    for (const auto& c : cases) {
        std::vector<char*> argv;
        for (const char* a : c.argv)
            argv.push_back(const_cast<char*>(a));
        EXPECT_EQ(launchMode(int(argv.size()), argv.data()), c.mode) << c.argv.back();
    }
}

} // namespace
