#pragma once

#include "App/Preview/PreviewSupport.h"
#include "StorageCore/Concurrency/TaskRunner.h"
#include "StorageCore/Preview/PreviewLoader.h"

#include <QPointer>
#include <QWidget>

class QVBoxLayout;

namespace tw {

class AppModel;
class ContentUnavailableView;
class ImageController;
class PDFControls;

/// Turns a file's preview loader into something on screen, in a preview window (full) or in
/// the quick-look panel (compact): starts the load when first shown, shows a progress text
/// while the file is prepared, the failure or the "can't be previewed" state with their
/// buttons, and once the preview is ready the viewer for its kind and content. One view per
/// file: stepping to another file makes a new one. Leaving cancels its own load. The view
/// shares its loader with the model: it keeps it for its whole life, whatever the model's list
/// of loaders lets go of.
class PreviewContentView : public QWidget {
    Q_OBJECT
public:
    PreviewContentView(AppModel& model, std::shared_ptr<PreviewLoader> loader, PreviewMode mode,
                       PDFControls* pdf = nullptr, ImageController* image = nullptr,
                       QWidget* parent = nullptr);
    ~PreviewContentView() override;

    const FileItem& item() const { return item_; }
    PreviewLoader* loader() const { return loader_.get(); }
    PreviewMode mode() const { return mode_; }
    /// What is shown now: the progress view, a ContentUnavailableView or a viewer.
    QWidget* currentView() const { return current_; }

    /// "Preparing preview (<size>)…" for the kinds copied to the disk first when the size is
    /// known, else "Preparing preview…".
    static QString progressText(const PreviewLoader& loader);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void startLoad();
    void refresh();
    void present(QWidget* view);
    QWidget* viewer(const PreviewContent& content);
    QWidget* progressView();
    QWidget* failedView(const StorageError& error);
    QWidget* unsupportedView();
    /// "Download…", which saves a copy of the file.
    void addDownloadButton(ContentUnavailableView* view);
    QWidget* moduleMissingView();

    AppModel& model_;
    FileItem item_;
    std::shared_ptr<PreviewLoader> loader_;
    PreviewMode mode_;
    QPointer<PDFControls> pdf_;
    QPointer<ImageController> image_;
    QVBoxLayout* layout_;
    QWidget* current_ = nullptr;
    std::optional<PreviewLoader::Phase> shownPhase_;
    TaskHandle load_;
    bool shown_ = false;
};

} // namespace tw
