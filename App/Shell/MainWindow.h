#pragma once

#include "App/Preview/PreviewTarget.h"

#include <QMainWindow>
#include <QPointer>
#include <QUuid>

class QAction;
class QSplitter;
class QStackedWidget;
class QToolBar;

namespace tw {

class AppModel;
class HomeView;
class OnboardingView;
class QuickLook;
class SearchField;
class Sidebar;
class SmartUploadView;
class UploadToastView;
class UploadsToolbarButton;
class WindowPresenter;

/// The main window "Kelvanor" (1100×700, never smaller than 820×520): the onboarding screen
/// until the first account is connected, then the sidebar beside the detail pane (the search
/// results while searching, the selected storage, the smart upload pane or Home), with the
/// search field and the uploads button in the toolbar, the upload toast over the content, and
/// the sheets and alerts that the presenter opens from the model's state.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    enum class Detail { search, storage, smartUpload, home };
    /// When the window's content is built (the toolbar and its controls, the onboarding screen
    /// or the split view with what it shows): in the constructor, or once the window's first
    /// frame has been drawn, so that a start puts the window on screen before it builds them.
    enum class Build { atOnce, afterFirstFrame };

    MainWindow(AppModel& model, QuickLook& quickLook, OpenPreview openPreview,
               QWidget* parent = nullptr, Build build = Build::atOnce);
    ~MainWindow() override;

    /// What the detail pane shows for the model's state.
    static Detail detailFor(const AppModel& model);

    Detail detail() const { return detail_; }
    QWidget* detailWidget() const;
    WindowPresenter* presenter() const { return presenter_; }
    /// Null until the content is built.
    QToolBar* toolBar() const { return toolBar_; }
    bool isShowingOnboarding() const;
    /// False until the content is built (see Build).
    bool isContentBuilt() const { return contentBuilt_; }

Q_SIGNALS:
    /// The sidebar's "Manage Accounts…": the settings window's accounts.
    void manageAccountsRequested();
    /// The content has just been built (see Build): what belongs beside it (the menus) is
    /// built now.
    void contentBuilt();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void buildContent();
    void applyRoot();
    void buildSplitView();
    void applyDetail();
    void applyToolbar();
    void applyToast();
    void placeToast();
    QWidget* makeStorageView(const QUuid& accountID);

    AppModel& model_;
    QuickLook& quickLook_;
    OpenPreview openPreview_;
    QStackedWidget* root_;
    OnboardingView* onboarding_ = nullptr; // built when first shown, like the next two
    // The split view (sidebar | details, Home among them), built when first shown: a first
    // start that shows the welcome screen never builds it before its first paint.
    QSplitter* split_ = nullptr;
    Sidebar* sidebar_ = nullptr;
    QStackedWidget* details_ = nullptr;
    HomeView* home_ = nullptr;
    SmartUploadView* smartUpload_ = nullptr;
    QWidget* search_ = nullptr;
    QPointer<QWidget> storage_;
    QUuid storageAccount_;
    Detail detail_ = Detail::home;
    // The content, built by buildContent().
    QToolBar* toolBar_ = nullptr;
    SearchField* searchField_ = nullptr;
    UploadsToolbarButton* uploadsButton_ = nullptr;
    QAction* uploadsAction_ = nullptr;
    UploadToastView* toast_ = nullptr;
    WindowPresenter* presenter_;
    bool contentBuilt_ = false;
    bool contentScheduled_ = false;
    bool quotasRefreshed_ = false;
};

} // namespace tw
