// The desktop browser opener: http(s) only, always opened on the main thread.
#include "GoogleDriveProvider/OAuth/WorkspaceBrowserOpener.h"

#include "StorageCore/Concurrency/TaskRunner.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QThread>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <optional>

using namespace tw;

namespace {

/// Stands in for the desktop's browser: receives the URLs the desktop services would open.
class RecordingBrowser : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
    QList<QThread*> threads;

public Q_SLOTS:
    void openURL(const QUrl& url) {
        urls.append(url);
        threads.append(QThread::currentThread());
    }
};

TEST(WorkspaceBrowserOpener, OpensWebPagesOnTheMainThreadOnly) {
    RecordingBrowser browser;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "openURL");
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &browser, "openURL");
    WorkspaceBrowserOpener opener;
    const QUrl page(QStringLiteral("https://accounts.google.com/o/oauth2/v2/auth?state=x"));

    EXPECT_TRUE(opener.open(page)); // from the main thread itself

    // From a task's worker thread, as the sign-in calls it: the call waits while the main
    // thread opens the page. The page and the answer travel through the tasks' hand-off, which
    // ThreadSanitizer follows.
    std::optional<TaskResult<bool>> opened;
    QObject receiver;
    runTask(
        &receiver, [&] { return opener.open(page); },
        [&](TaskResult<bool> result) { opened = std::move(result); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return opened.has_value(); }, 10000));
    ASSERT_TRUE(opened->ok());
    EXPECT_TRUE(opened->value());

    // Anything but a web page is refused without reaching the desktop.
    EXPECT_FALSE(opener.open(QUrl(QStringLiteral("file:///etc/passwd"))));
    EXPECT_FALSE(opener.open(QUrl()));

    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    ASSERT_EQ(browser.urls.size(), 2);
    EXPECT_EQ(browser.urls, QList<QUrl>({page, page}));
    for (QThread* thread : std::as_const(browser.threads))
        EXPECT_EQ(thread, QCoreApplication::instance()->thread());
}

} // namespace

#include "WorkspaceBrowserOpenerTest.moc"
