#pragma once

#include <QPointer>
#include <QUrl>
#include <QWidget>

class QPdfDocument;

namespace tw {

class PDFController;
class PDFPageView;
class UnavailableView;

/// Shows a local PDF file: pages one under the other in a window, one page at a time in the
/// quick-look panel. With a controller (the window's), links its page view to it; a file that
/// cannot be opened shows the "couldn't be displayed" texts and resets the controller.
class PDFViewer : public QWidget {
    Q_OBJECT
public:
    PDFViewer(const QUrl& url, PDFController* controller, bool compact, QWidget* parent = nullptr);
    ~PDFViewer() override;

    /// The page view; null when the file could not be opened.
    PDFPageView* pageView() const { return view_; }
    UnavailableView* unavailableView() const { return unavailable_; }

private:
    QPdfDocument* document_;
    PDFPageView* view_ = nullptr;
    UnavailableView* unavailable_ = nullptr;
    QPointer<PDFController> controller_;
};

} // namespace tw
