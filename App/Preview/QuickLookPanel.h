#pragma once

#include "App/Preview/QuickLook.h"

#include <QLoggingCategory>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <memory>

class QVBoxLayout;

namespace tw {

class PreviewContentView;
class QuickLookView;
class SettingsStore;

Q_DECLARE_LOGGING_CATEGORY(lcQuickLook)

/// The content of the quick-look panel: the file's compact preview over a footer with its
/// name, a detail line (size · modification · account), "Download…" and "Open Preview".
class QuickLookView : public QWidget {
    Q_OBJECT
public:
    QuickLookView(AppModel& model, const FileItem& item, std::function<void()> openFull,
                  QWidget* parent = nullptr);

    const FileItem& item() const { return item_; }
    PreviewContentView* content() const { return content_; }
    /// "<size> · <modified> · <account alias>", absent parts left out.
    static QString detail(AppModel& model, const FileItem& item);

private:
    FileItem item_;
    PreviewContentView* content_;
};

/// The one floating quick-look panel of the application: a tool window above the other
/// windows that shows the file selected in a file table, follows the selection while it is
/// open, keeps its frame between launches (under "QuickLookPanel" in the settings), is put
/// away whenever the application stops being active, and opens the full preview window.
class QuickLookPanel : public QObject, public QuickLook {
    Q_OBJECT
public:
    static constexpr QSize contentSize{720, 500};
    static constexpr QSize minimumContentSize{360, 270};
    /// A panel smaller than this comes back at contentSize.
    static constexpr QSize smallestKeptSize{540, 375};

    /// The application's panel, made by the first call over settings, the application's own
    /// settings store (AppModel::defaults(): the process keeps one store per file).
    static QuickLookPanel& shared(const std::shared_ptr<SettingsStore>& settings);
    /// A panel that keeps its frame in settings (not null).
    explicit QuickLookPanel(std::shared_ptr<SettingsStore> settings, QObject* parent = nullptr);
    ~QuickLookPanel() override;

    bool isPanelVisible() const override;
    void show(const FileItem& item, AppModel& model, OpenFull openFull) override;
    void follow(const std::optional<FileItem>& item, AppModel& model, OpenFull openFull) override;
    void close() override;

    /// The panel window; null until the first show.
    QWidget* panel() const;
    QuickLookView* view() const { return view_; }
    const std::optional<FileItem>& item() const { return item_; }

private:
    class Window;
    void makePanel();
    void saveFrame();
    void userClosed();
    static QWidget* mainWindow();

    std::shared_ptr<SettingsStore> settings_;
    QPointer<Window> panel_;
    QPointer<QuickLookView> view_;
    std::optional<FileItem> item_;
};

} // namespace tw
