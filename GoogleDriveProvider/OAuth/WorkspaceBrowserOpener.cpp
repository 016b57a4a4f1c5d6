#include "GoogleDriveProvider/OAuth/WorkspaceBrowserOpener.h"

#include "StorageCore/Concurrency/Completion.h"
#include "StorageCore/Concurrency/TaskRunner.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QLoggingCategory>
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
    // The desktop services live on the main thread; wait here for its answer. (A call from
    // the main thread itself is made directly above: waiting for our own thread would
    // dead-lock.) The wait ends early, with false, when the calling task is cancelled.
    Completion<bool> answer;
    const bool posted = detail::postToMainThread(
        [answer, url]() mutable { answer.resolve(QDesktopServices::openUrl(url)); });
    if (!posted) {
        qCWarning(lcBrowser) << "could not reach the main thread to open the browser";
        return false;
    }
    try {
        return answer.wait();
    } catch (...) {
        return false;
    }
}

} // namespace tw
