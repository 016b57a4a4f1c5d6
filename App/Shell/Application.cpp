#include "App/Shell/Application.h"

#include "App/DesignSystem/ButtonStyle.h"
#include "App/Model/AppModel.h"
#include "App/Modules/ViewerModules.h"
#include "App/Preview/MediaBackEnd.h" // the constant only: its code is in the media module
#include "App/Settings/SettingsWindow.h"
#include "App/Shell/AboutPanel.h"
#include "App/Shell/AppCommands.h"
#include "App/Shell/MainWindow.h"
#include "App/Shell/PreviewWiring.h"
#include "App/Shell/SelfCheck.h"
#include "App/Shell/UnixSignalWatcher.h"
#include "TelegramProvider/TDLib/TDJSONRuntime.h"
#include "TelegramProvider/TelegramStorageProvider.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QSessionManager>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace tw {

namespace {
Q_LOGGING_CATEGORY(lcApplication, "Application")
}

LaunchMode launchMode(const QStringList& arguments) {
    return SelfCheck::isRequested(arguments) ? LaunchMode::selfCheck : LaunchMode::application;
}

LaunchMode launchMode(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return launchMode(arguments);
}

void setApplicationIdentity(const QString& version) {
    QCoreApplication::setApplicationName(QStringLiteral("Kelvanor"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("tessarow.org"));
    QCoreApplication::setApplicationVersion(version);
}

void runSelfCheck(int& argc, char** argv, const QString& version) {
    QCoreApplication app(argc, argv);
    setApplicationIdentity(version);
    const SelfCheck::Environment environment = SelfCheck::live(QCoreApplication::arguments());
    runDetached([environment] {
        try {
            SelfCheck::run(environment);
        } catch (...) {
        }
        std::fflush(stdout);
        // At once: no quit protocol, no destructors racing the checks' leftovers.
        _exit(0);
    });
    app.exec();
    std::fflush(stdout);
    _exit(0);
}

Application::Parts Application::liveParts(AppComposition::Seams seams) {
    Parts parts;
    // The start-up's background work waits for the window's content (see the constructor).
    parts.model =
        AppComposition::live(AppComposition::StartupTasks::runWhenReleased, std::move(seams));
    parts.quickLook = &PreviewWiring::quickLook(*parts.model);
    parts.previewOpener = [](AppModel& model) { return PreviewWiring::makeOpener(model); };
    parts.contentAfterFirstFrame = true;
    return parts;
}

Application::Application(Parts parts, QObject* parent)
    : QObject(parent), model_(std::move(parts.model)) {
    Q_ASSERT(model_ && parts.quickLook);
    ButtonStyle::install();
    openPreview_ = parts.previewOpener ? parts.previewOpener(*model_) : OpenPreview();
    if (!openPreview_)
        openPreview_ = [](const PreviewTarget&) {};

    QuitController::Hooks hooks = std::move(parts.quitHooks);
    if (!hooks.stopReceiving) {
        hooks.stopReceiving = [] {
            // Only a runtime that is there: quitting never loads (or waits for) the library.
            if (const std::shared_ptr<TDJSONRuntime> runtime = TDJSONRuntime::sharedIfLoaded())
                runtime->stopReceiving(1.0);
        };
    }
    quit_ = new QuitController(std::move(hooks), parts.quitLimits, this);

    window_ = std::make_unique<MainWindow>(*model_, *parts.quickLook, openPreview_, nullptr,
                                           parts.contentAfterFirstFrame
                                               ? MainWindow::Build::afterFirstFrame
                                               : MainWindow::Build::atOnce);
    window_->installEventFilter(this);
    connect(window_.get(), &MainWindow::manageAccountsRequested, this, &Application::showSettings);
    // The menu bar comes with the window's content: its text and its extension button's icon
    // would load the fonts and the image plug-ins before the first frame.
    const auto buildCommands = [this] {
        commands_ = new AppCommands(*model_, *window_,
                                    AppCommands::Handlers{[this] { showSettings(); },
                                                          [this] { quit_->requestQuit(); },
                                                          [this] { showAbout(); }});
    };
    if (window_->isContentBuilt()) {
        buildCommands();
        model_->releaseStartupWork();
    } else {
        connect(
            window_.get(), &MainWindow::contentBuilt, this,
            [this, buildCommands] {
                buildCommands();
                // The workers start once the content's frame is drawn: the keyring's library
                // and the clean-ups' disk work compete with no frame before it.
                QTimer::singleShot(0, model_.get(),
                                   [model = model_.get()] { model->releaseStartupWork(); });
            },
            Qt::SingleShotConnection);
    }

    if (parts.watchUnixSignals) {
        signals_ = new UnixSignalWatcher({SIGTERM, SIGINT}, this);
        connect(signals_, &UnixSignalWatcher::received, quit_, &QuitController::requestQuit);
    }
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        // The desktop session ends: the same clean-up as a quit.
        connect(gui, &QGuiApplication::commitDataRequest, quit_,
                [this](QSessionManager&) { quit_->requestQuit(); });
    }
}

Application::~Application() {
    // Windows first (they hold the model and the preview opener), the model last.
    delete settings_.data();
    delete about_.data();
    if (window_)
        window_->removeEventFilter(this);
    window_.reset();
    openPreview_ = nullptr;
    model_.reset();
}

SettingsWindow* Application::settingsWindow() const {
    return settings_.data();
}

void Application::show() {
    window_->show();
    // The media back end is prepared off the GUI thread once the window is up and its first
    // frames are drawn (its plug-ins' loading would hold the loader lock that the window's
    // own plug-ins take meanwhile).
    QTimer::singleShot(MediaBackEnd::startDelayMs, this,
                       [this] { ViewerModules::prepareMediaInBackground(this); });
}

void Application::activate(const QHash<QByteArray, QByteArray>& tokens) {
    // A Wayland desktop lets a window take the focus with the token of the start that asked
    // for it; Qt's Wayland plug-in reads XDG_ACTIVATION_TOKEN from the environment when the
    // window is activated. (On X11 the window asks for the focus through the window manager.)
    for (auto it = tokens.cbegin(); it != tokens.cend(); ++it)
        qputenv(it.key().constData(), it.value());
    if (window_->isMinimized())
        window_->showNormal();
    else
        window_->show();
    window_->raise();
    window_->activateWindow();
    qCInfo(lcApplication) << "brought the main window forward for a later start";
}

void Application::showSettings() {
    if (!settings_) {
        settings_ = new SettingsWindow(*model_);
        settings_->setAttribute(Qt::WA_DeleteOnClose);
    }
    settings_->show();
    settings_->raise();
    settings_->activateWindow();
}

void Application::showAbout() {
    about_ = AboutPanel::show();
}

bool Application::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_.get()) {
        switch (event->type()) {
        case QEvent::Show:
            // The content came on screen (not a mere un-minimise): the clean-up for the next
            // quit closes the Telegram sessions of this model.
            if (!event->spontaneous()) {
                std::shared_ptr<TelegramStorageProvider> telegram = model_->telegramProvider();
                quit_->setPrepareForQuit([telegram] {
                    if (telegram)
                        telegram->closeAllSessions();
                });
            }
            break;
        case QEvent::Close:
            // Closing the main window quits, through the protocol.
            if (quit_->state() != QuitController::State::terminated) {
                event->ignore();
                quit_->requestQuit();
                return true;
            }
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace tw
