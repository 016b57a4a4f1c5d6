#include "App/Model/AppModel.h"
#include "App/Shell/ActivationListener.h"
#include "App/Shell/Application.h"
#include "App/Shell/InstanceLock.h"
#include "App/Shell/MainWindow.h"
#include "StorageCore/Persistence/BackgroundWriter.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[]) {
    const QString version = QStringLiteral(TW_VERSION);
    // Decided before any application object exists: the self-check needs no display.
    if (tw::launchMode(argc, argv) == tw::LaunchMode::selfCheck)
        tw::runSelfCheck(argc, argv, version);

    // One application per data folder, decided before anything reads, writes or cleans up
    // what is in it: a later start hands its activation to the running one and leaves.
    tw::InstanceLock lock;
    switch (tw::InstanceLock::claim(tw::AppModel::dataFolder(), lock)) {
    case tw::InstanceLock::Start::handedOver:
        std::fflush(stdout);
        _exit(0);
    case tw::InstanceLock::Start::unanswered:
        std::fprintf(stderr, "Kelvanor is already running over this data folder but does not "
                             "answer; try again when it has finished.\n");
        std::fflush(stderr);
        _exit(1);
    case tw::InstanceLock::Start::primary:
    case tw::InstanceLock::Start::unguarded:
        break;
    }

    QApplication app(argc, argv);
    tw::setApplicationIdentity(version);
    QApplication::setDesktopFileName(QStringLiteral("org.tessarow.Kelvanor"));
    // Only the quit protocol ends the application.
    QApplication::setQuitOnLastWindowClosed(false);

    int status = 0;
    {
        tw::Application application(tw::Application::liveParts());
        // The very file "cmake --install" puts into the icon theme (no theme look-up), set with
        // the window's content: the SVG icon engine loads after the first frame.
        QObject::connect(
            &application.mainWindow(), &tw::MainWindow::contentBuilt, &app,
            [] { QApplication::setWindowIcon(QIcon(QStringLiteral(":/org.tessarow.Kelvanor.svg"))); },
            Qt::SingleShotConnection);
        application.show();
        tw::ActivationListener activations(lock.listenerHandle());
        QObject::connect(&activations, &tw::ActivationListener::activationRequested, &application,
                         &tw::Application::activate);
        status = QApplication::exec();
        // Windows and panels save what they keep (frames, positions) as they close.
        QApplication::closeAllWindows();
    }
    // Documents and settings saved after the quit protocol's wait (or on a path that skipped
    // it).
    tw::BackgroundWriter::flushAll(std::chrono::steady_clock::now() + std::chrono::seconds(5));
    // Workers stuck in a back-end call are never joined: leave without static destructors.
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(status);
}
