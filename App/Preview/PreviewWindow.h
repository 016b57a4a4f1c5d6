#pragma once

#include "App/Preview/PreviewTarget.h"

#include <QMainWindow>
#include <QPointer>

#include <optional>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QToolButton;
class QVBoxLayout;

namespace tw {

class AppModel;
class ElidedLabel;
class FolderListing;
class ImageController;
class PDFControls;
class PreviewContentView;
class PreviewLoader;
class ContentUnavailableView;

/// A window that shows one remote file at a time, large, and steps through the list it was
/// opened from: the files of one folder (optionally one category), or the results of a search
/// (a snapshot taken when the window opens; folders are skipped). Its toolbar steps, zooms,
/// pages, rotates, shares and downloads; its search field searches a PDF; ← → step, Space
/// (except for media) and Escape close (Escape first leaves full screen).
class PreviewWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr QSize defaultSize{960, 720};
    static constexpr QSize minimumContentSize{520, 380};

    PreviewWindow(AppModel& model, const PreviewTarget& target, QWidget* parent = nullptr);
    ~PreviewWindow() override;

    const PreviewTarget& target() const { return target_; }
    /// The files stepped through, in list order.
    QList<FileItem> files() const;
    /// The file shown; none when it is not (or no longer) in the list.
    std::optional<FileItem> item() const;
    std::optional<int> index() const;
    /// "<where> — <position> of <count>".
    QString subtitle(const FileItem& item) const;
    /// Moves by offset within the list; nothing at either end or without a shown file.
    void step(int offset);

    PDFControls* pdf() const { return pdf_; }
    ImageController* image() const { return image_; }
    PreviewContentView* contentView() const { return content_; }
    QLineEdit* searchField() const { return search_; }
    /// True while the window's state shows "This file is no longer available.".
    bool showsUnavailable() const;
    bool isMedia() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void buildToolbar();
    void scheduleRefresh();
    void refresh();
    void updateToolbar(const std::optional<FileItem>& item, PreviewLoader* loader);
    void watchSources();
    /// The folder's listing is loading its first page or paging on.
    bool isListingLoading() const;
    bool handleKey(QKeyEvent* event);
    QUrl shareableFile() const;

    AppModel& model_;
    PreviewTarget target_;
    std::optional<FileRef> current_;
    std::optional<QList<FileItem>> searchResults_;
    PDFControls* pdf_;
    ImageController* image_;
    QPointer<FolderListing> listing_;
    QPointer<PreviewLoader> watchedLoader_;

    QWidget* central_;
    QVBoxLayout* centralLayout_;
    PreviewContentView* content_ = nullptr;
    ContentUnavailableView* unavailable_ = nullptr;
    bool refreshPending_ = false;

    QToolBar* toolbar_ = nullptr;
    QAction* previous_ = nullptr;
    QAction* next_ = nullptr;
    ElidedLabel* title_ = nullptr;
    ElidedLabel* subtitle_ = nullptr;
    bool placed_ = false;
    QList<QAction*> pdfPageActions_;
    QList<QAction*> pdfActions_;
    QList<QAction*> imageActions_;
    QLabel* pageText_ = nullptr;
    QLineEdit* search_ = nullptr;
    QAction* searchAction_ = nullptr;
    QLabel* matchText_ = nullptr;
    QAction* matchAction_ = nullptr;
    QAction* share_ = nullptr;
    QAction* download_ = nullptr;
    QAction* openInBrowser_ = nullptr;
};

} // namespace tw
