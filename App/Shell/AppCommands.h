#pragma once

#include "App/Model/ModelTypes.h"

#include <QList>
#include <QObject>

#include <functional>
#include <optional>

class QAction;
class QMainWindow;
class QMenu;

namespace tw {

class AppModel;

/// The menu commands of the main window: File, Go and Help on the window's menu bar. Every
/// action is made once, carries an objectName and is also added to the window, so its
/// shortcut works without opening a menu; refresh() derives every title and enabled state
/// from the model and runs whenever the selection, the paths or the accounts change.
///
/// While the main window has focus, an enabled command's shortcut wins over a text field's
/// own binding of the same keys (Ctrl+U erases the line in Qt's text fields on Linux).
class AppCommands : public QObject {
    Q_OBJECT
public:
    /// What the commands ask of the application's shell.
    struct Handlers {
        std::function<void()> showSettings;
        std::function<void()> quit;
        std::function<void()> showAbout;
    };

    static constexpr int accountItemLimit = 9;

    AppCommands(AppModel& model, QMainWindow& window, Handlers handlers);
    ~AppCommands() override;

    /// The upload destination of what the main window shows, or none.
    std::optional<UploadDestination> currentDestination() const;
    /// Whether "Enclosing Folder" applies.
    bool canGoUp() const;
    /// Applies the model's state to every action.
    void refresh();

    QAction* uploadFiles() const { return uploadFiles_; }
    QAction* connectGoogle() const { return connectGoogle_; }
    QAction* connectTelegram() const { return connectTelegram_; }
    QAction* settings() const { return settings_; }
    QAction* quit() const { return quit_; }
    QAction* home() const { return home_; }
    /// The nine account items (hidden beyond the number of accounts).
    const QList<QAction*>& accountItems() const { return accountItems_; }
    QAction* enclosingFolder() const { return enclosingFolder_; }
    QAction* smartUpload() const { return smartUpload_; }
    QAction* about() const { return about_; }

    QMenu* fileMenu() const { return fileMenu_; }
    QMenu* goMenu() const { return goMenu_; }
    QMenu* helpMenu() const { return helpMenu_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAction* makeAction(const QString& objectName, const QString& text, const QKeySequence& shortcut);
    void upload();
    void goUp();

    AppModel& model_;
    QMainWindow& window_;
    Handlers handlers_;

    QMenu* fileMenu_;
    QMenu* goMenu_;
    QMenu* helpMenu_;
    QAction* uploadFiles_;
    QAction* connectGoogle_;
    QAction* connectTelegram_;
    QAction* settings_;
    QAction* quit_;
    QAction* home_;
    QList<QAction*> accountItems_;
    QAction* enclosingFolder_;
    QAction* smartUpload_;
    QAction* about_;
    QList<QAction*> all_;
};

} // namespace tw
