#pragma once

#include "App/Preview/PreviewTarget.h"

#include <QMainWindow>

namespace tw {

class AppModel;
class QuickLook;

/// The main window: the file browser's frame (default 1100×700, never smaller than 820×520).
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    MainWindow(AppModel& model, QuickLook& quickLook, OpenPreview openPreview,
               QWidget* parent = nullptr);

private:
    AppModel& model_;
    QuickLook& quickLook_;
    OpenPreview openPreview_;
};

} // namespace tw
