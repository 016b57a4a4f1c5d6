#pragma once

#include <QMainWindow>

namespace tw {

/// The main window: the file browser's frame (default 1100×700, never smaller than 820×520).
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
};

} // namespace tw
