#include "GoogleDriveProvider/OAuth/WorkspaceBrowserOpener.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QLoggingCategory>
#include <QMetaObject>
#include <QThread>

Q_LOGGING_CATEGORY(lcBrowser, "GoogleDrive.Browser")

namespace tw {

bool WorkspaceBrowserOpener::open(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return false;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return false;
    if (QThread::currentThread() == app->thread())
        return QDesktopServices::openUrl(url);
    // The desktop services live on the main thread; wait there for the answer (a blocking
    // call into our own thread would dead-lock, hence the check above).
    bool opened = false;
    const bool invoked = QMetaObject::invokeMethod(
        app, [&opened, url] { opened = QDesktopServices::openUrl(url); },
        Qt::BlockingQueuedConnection);
    if (!invoked)
        qCWarning(lcBrowser) << "could not reach the main thread to open the browser";
    return invoked && opened;
}

} // namespace tw
