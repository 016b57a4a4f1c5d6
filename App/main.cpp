#include "App/Shell/Application.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[]) {
    const QString version = QStringLiteral(TW_VERSION);
    // Decided before any application object exists: the self-check needs no display.
    if (tw::launchMode(argc, argv) == tw::LaunchMode::selfCheck)
        tw::runSelfCheck(argc, argv, version);

    QApplication app(argc, argv);
    tw::setApplicationIdentity(version);
    QApplication::setDesktopFileName(QStringLiteral("org.tessarow.Kelvanor"));
    // The very file "cmake --install" puts into the icon theme: no theme look-up at start-up.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/org.tessarow.Kelvanor.svg")));
    // Only the quit protocol ends the application.
    QApplication::setQuitOnLastWindowClosed(false);

    int status = 0;
    {
        tw::Application application(tw::Application::liveParts());
        application.show();
        status = QApplication::exec();
        // Windows and panels save what they keep (frames, positions) as they close.
        QApplication::closeAllWindows();
    }
    // Workers stuck in a back-end call are never joined: leave without static destructors.
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(status);
}
