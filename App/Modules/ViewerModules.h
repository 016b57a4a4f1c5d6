#pragma once

#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Preview/PreviewLoader.h"

#include <QUrl>

class QObject;
class QWidget;

namespace tw {

class AppModel;
class PDFControls;

/// The PDF viewer's module (Qt PDF): PDFController, PDFViewer and PDFPageView.
class PDFModule {
public:
    virtual ~PDFModule() = default;
    /// A preview window's PDF state (a PDFController).
    virtual PDFControls* createControls(QObject* parent) = 0;
    /// A PDFViewer of a local file, linked to controls made by createControls (or none).
    virtual QWidget* createViewer(const QUrl& url, PDFControls* controls, bool compact,
                                  QWidget* parent) = 0;
};

/// The media viewer's module (Qt Multimedia): PlayerHost, MediaViewer and MediaBackEnd.
class MediaModule {
public:
    virtual ~MediaModule() = default;
    /// Starts preparing the media back end off the GUI thread (MediaBackEnd::prepare).
    virtual void prepareBackEnd() = 0;
    /// A PlayerHost of an audio or video preview.
    virtual QWidget* createPlayer(AppModel& model, const FileItem& item,
                                  const PreviewContent& content, bool isAudio, bool compact,
                                  QWidget* parent) = 0;
};

/// The viewers whose libraries the first window does not need, loaded on first use: from the
/// executable itself when it links them (the tests do), else from their shared modules
/// (ModuleLoader). Null when the module cannot be loaded (the reason is logged); callers show
/// the file as one that cannot be displayed. Main thread only.
namespace ViewerModules {

PDFModule* pdf();
MediaModule* media();
/// Loads the media module on a worker, then (on the main thread) starts preparing its back end,
/// so neither the module's libraries nor GStreamer load on the GUI thread.
void prepareMediaInBackground(QObject* receiver);

/// PDF state for a preview window: the module's, or PDFControls' own inert one without it.
PDFControls* createPDFControls(QObject* parent);

} // namespace ViewerModules

} // namespace tw
