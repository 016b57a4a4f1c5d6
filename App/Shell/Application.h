#pragma once

#include "App/Model/AppComposition.h"
#include "App/Model/AppModel.h"
#include "App/Preview/PreviewTarget.h"
#include "App/Shell/QuitController.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>
#include <memory>

namespace tw {

class AppCommands;
class AppModel;
class MainWindow;
class QuickLook;
class SettingsWindow;
class UnixSignalWatcher;

/// How the process runs: the desktop application, or the headless self-check.
enum class LaunchMode { application, selfCheck };

/// selfCheck exactly when an argument equals "-TWSelfCheck" (whole argument, same case).
LaunchMode launchMode(const QStringList& arguments);
LaunchMode launchMode(int argc, char** argv);

/// Name, organisation domain and version of the running application (before any settings
/// are read: they decide where QSettings keeps them).
void setApplicationIdentity(const QString& version);

/// Runs the self-check in a QCoreApplication (no display): the checks run on a worker, the
/// main thread serves their hops; the process ends with status 0 after the last line.
[[noreturn]] void runSelfCheck(int& argc, char** argv, const QString& version);

/// The desktop application composed: the model, the main window with its menu commands, the
/// settings window, the About panel, the preview windows and the quit protocol. main() builds
/// it with the real parts; tests swap them.
class Application : public QObject {
    Q_OBJECT
public:
    struct Parts {
        std::unique_ptr<AppModel> model;
        /// The quick-look panel; must outlive the application object.
        QuickLook* quickLook = nullptr;
        /// Makes the opener of preview windows for the model (none: previews do not open).
        std::function<OpenPreview(AppModel&)> previewOpener;
        /// Defaults: stop the loaded TDLib runtime's receive thread; QCoreApplication::quit.
        QuitController::Hooks quitHooks;
        QuitController::Limits quitLimits;
        /// SIGTERM and SIGINT start the quit protocol.
        bool watchUnixSignals = true;
        /// The main window builds its content after its first frame (a start draws the window
        /// first) instead of in its constructor.
        bool contentAfterFirstFrame = false;
    };

    /// The real model and the application's preview wiring, the window's content built after
    /// its first frame: what main() runs, and what the end-to-end test runs with its own
    /// browser opener and file dialogs.
    static Parts liveParts(AppComposition::Seams seams = {});

    explicit Application(Parts parts, QObject* parent = nullptr);
    ~Application() override;

    /// Shows the main window.
    void show();
    /// Brings the main window forward (shown, un-minimised, raised, active) for a later start
    /// of the application; tokens are the desktop's start-up tokens that start was given.
    void activate(const QHash<QByteArray, QByteArray>& tokens = {});
    /// Shows the one settings window, or raises it.
    void showSettings();
    void showAbout();

    AppModel& model() const { return *model_; }
    MainWindow& mainWindow() const { return *window_; }
    /// The menus, built with the main window's content (MainWindow::isContentBuilt()).
    AppCommands& commands() const { return *commands_; }
    QuitController& quitController() const { return *quit_; }
    /// The settings window while it is open.
    SettingsWindow* settingsWindow() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<AppModel> model_;
    OpenPreview openPreview_;
    std::unique_ptr<MainWindow> window_;
    AppCommands* commands_ = nullptr;
    QuitController* quit_ = nullptr;
    UnixSignalWatcher* signals_ = nullptr;
    QPointer<SettingsWindow> settings_;
    QPointer<QWidget> about_;
};

} // namespace tw
