#pragma once

#include "StorageCore/Concurrency/TaskRunner.h"

#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <memory>

class QPdfDocument;

namespace tw {

class PDFController;
class PDFPageView;
class ContentUnavailableView;

/// Shows a local PDF file: pages one under the other in a window, one page at a time in the
/// quick-look panel. The file is opened by a task (PDFRenderer) behind a busy indicator; with
/// a controller (the window's), the controller is reset at once and linked to the page view
/// when it comes. A file that cannot be opened shows the "couldn't be displayed" texts.
class PDFViewer : public QWidget {
    Q_OBJECT
public:
    PDFViewer(const QUrl& url, PDFController* controller, bool compact, QWidget* parent = nullptr);
    ~PDFViewer() override;

    /// The page view; null while the file is opened and when it could not be.
    PDFPageView* pageView() const { return view_; }
    ContentUnavailableView* unavailableView() const { return unavailable_; }
    /// True until the file has been opened (or found unreadable).
    bool isLoading() const { return loading_; }
    /// Shown while the file is opened; null afterwards.
    QWidget* busyIndicator() const { return busy_; }

private:
    void showUnavailable();

    std::shared_ptr<QPdfDocument> document_;
    PDFPageView* view_ = nullptr;
    ContentUnavailableView* unavailable_ = nullptr;
    QWidget* busy_ = nullptr;
    QPointer<PDFController> controller_;
    TaskHandle open_;
    bool loading_ = true;
};

} // namespace tw
