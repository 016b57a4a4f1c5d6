#include "App/Shell/MainWindow.h"

#include "App/Model/AppModel.h"
#include "App/Preview/QuickLook.h"

namespace tw {

MainWindow::MainWindow(AppModel& model, QuickLook& quickLook, OpenPreview openPreview,
                       QWidget* parent)
    : QMainWindow(parent), model_(model), quickLook_(quickLook),
      openPreview_(std::move(openPreview)) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Kelvanor"));
    setMinimumSize(820, 520);
    resize(1100, 700);
}

} // namespace tw
