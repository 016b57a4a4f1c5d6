#include "App/Shell/MainWindow.h"

namespace tw {

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Kelvanor"));
    setMinimumSize(820, 520);
    resize(1100, 700);
}

} // namespace tw
