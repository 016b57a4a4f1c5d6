#include "App/Shell/MainWindow.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvanor"));
    QApplication::setOrganizationDomain(QStringLiteral("tessarow.org"));
    QApplication::setDesktopFileName(QStringLiteral("org.tessarow.Kelvanor"));

    tw::MainWindow window;
    window.show();
    return app.exec();
}
