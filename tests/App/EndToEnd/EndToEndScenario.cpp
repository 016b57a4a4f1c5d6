// The whole application end to end: the composition main() runs (Application::liveParts) over
// the fake Drive server, the fake TDLib, private XDG folders and a Secret Service of its own,
// driven through its windows, widgets and menus as a person would. After each step the window
// and the fake back ends are checked. The steps run in order and build on each other (one
// person, one run); the last one quits through the menu and starts the application a second
// time, as a process of its own, over the same folders.
//
// Only what must be swapped is: the browser that answers Google's sign-in page (it fetches the
// page from the fake server and follows its redirect into the application's loopback redirect
// server), and the file dialogs, which the test answers. TW_E2E_SHOTS=<dir> saves a PNG of
// each screen the run passes (scripts/screenshots.sh).
#include "App/Browser/FolderContentView.h"
#include "App/Browser/FolderTableModel.h"
#include "App/Browser/FolderTableView.h"
#include "App/Browser/StorageBrowserPane.h"
#include "StorageCore/Accounts/AccountManager.h"
#include "App/Model/AppModel.h"
#include "App/Model/Panels.h"
#include "App/Preview/ArchiveViewer.h"
#include "App/Preview/PDFController.h"
#include "App/Preview/PDFPageView.h"
#include "App/Preview/PlayerHost.h"
#include "App/Preview/PreviewWindow.h"
#include "App/Search/SearchField.h"
#include "App/Search/SearchResultsModel.h"
#include "App/Search/SearchResultsView.h"
#include "App/Settings/SettingsWindow.h"
#include "App/Shell/AppCommands.h"
#include "App/Shell/Application.h"
#include "App/Shell/MainWindow.h"
#include "App/Shell/WindowPresenter.h"
#include "GoogleDriveProvider/OAuth/GoogleAuthenticator.h"
#include "GoogleDriveProvider/OAuth/OAuthModels.h"
#include "StorageCore/Preview/PreviewCache.h"
#include "StorageCore/Transfers/UploadJob.h"
#include "StorageCore/Transfers/UploadManager.h"
#include "tests/App/Preview/PreviewFixtures.h"
#include "tests/support/FakeDriveServer.h"
#include "tests/support/ZipBuilder.h"
#include "tests/support/faketdjson/FakeTdJsonControl.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMediaPlayer>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <QToolButton>

#include <httplib.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

using namespace tw;
using namespace tw::test;
using Endpoint = FakeDriveServer::Endpoint;

namespace {

constexpr int kWait = 30000;
const QString kClientID = QStringLiteral("e2e-desktop-client.apps.googleusercontent.com");
const QString kDriveName = QStringLiteral("Team Drive");

// ---- The swapped parts ----------------------------------------------------------------------

/// The user's browser: loads the authorisation page (the fake server answers with a redirect
/// to the loopback address the application listens on) and follows the redirect, on a thread
/// of its own as a browser would.
class FollowingBrowser : public BrowserOpener {
public:
    ~FollowingBrowser() override { join(); }
    bool open(const QUrl& url) override {
        opened_.fetch_add(1);
        std::lock_guard lock(mutex_);
        threads_.emplace_back([url] { follow(url); });
        return true;
    }
    int opened() const { return opened_.load(); }
    void join() {
        std::lock_guard lock(mutex_);
        for (std::thread& thread : threads_)
            thread.join();
        threads_.clear();
    }

private:
    static void follow(const QUrl& url) {
        QUrl next = url;
        for (int hop = 0; hop < 3 && next.isValid(); ++hop) {
            httplib::Client client(next.host().toStdString(), next.port(80));
            client.set_connection_timeout(10);
            client.set_read_timeout(30);
            const std::string target =
                next.toString(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::FullyEncoded)
                    .toStdString();
            const httplib::Result result = client.Get(target.empty() ? "/" : target);
            if (!result || result->status / 100 != 3)
                return;
            next = QUrl(QString::fromStdString(result->get_header_value("Location")));
        }
    }
    std::atomic<int> opened_{0};
    std::mutex mutex_;
    std::vector<std::thread> threads_;
};

/// The file dialogs, answered by the test: the files to choose and the place to save at are
/// set before the step that opens them.
class AnsweringPanels : public Panels {
public:
    void chooseFiles(const QString&, const QString&,
                     std::function<void(const QList<QUrl>&)> onChosen) override {
        ++asked;
        const QList<QUrl> files = std::exchange(nextFiles, {});
        if (!files.isEmpty())
            QTimer::singleShot(0, qApp, [onChosen, files] { onChosen(files); });
    }
    void chooseSaveLocation(const QString& proposedName,
                            std::function<void(const QUrl&)> onChosen) override {
        ++asked;
        proposed = proposedName;
        const QString path = std::exchange(nextSavePath, {});
        if (!path.isEmpty())
            QTimer::singleShot(0, qApp, [onChosen, path] { onChosen(QUrl::fromLocalFile(path)); });
    }
    void chooseApplication(const FileItem&, const QString&, std::function<void(const QString&)>) override {
        ++asked;
    }

    QList<QUrl> nextFiles;
    QString nextSavePath;
    QString proposed;
    int asked = 0;
};

// ---- The run's shared state -----------------------------------------------------------------

struct Session {
    FakeDriveServer drive;
    QTemporaryDir scratch;
    std::unique_ptr<FakeTdJson> td;
    std::shared_ptr<FollowingBrowser> browser = std::make_shared<FollowingBrowser>();
    std::shared_ptr<AnsweringPanels> panels = std::make_shared<AnsweringPanels>();
    std::unique_ptr<Application> app;
    QUuid driveID;
    QUuid telegramID;
    QString projectsID, plansID, reportID, photoID, zipID, toneID;
    QByteArray zipMember;
    /// A short tone made by GStreamer's test source (none where GStreamer's tools are missing).
    bool hasTone = false;
    /// The benchmark's own samples (Projects › Samples): a large image and a short video.
    bool hasClip = false;
    /// A step failed: the later ones, which build on it, are skipped.
    bool broken = false;
};

Session*& sessionPointer() {
    static Session* session = nullptr;
    return session;
}
Session& session() { return *sessionPointer(); }

// ---- The main thread's responsiveness (the benchmark's measure) ---------------------------

/// Measures how long the main thread keeps events waiting: a thread of its own posts a
/// timestamped call to the main thread every 2 ms (one at a time) and the main thread records
/// how late it ran. The test's own heavy work (making and hashing large files) is left out
/// with Paused; what remains is the application's work plus the waits' own event-loop turns.
class StallProbe {
public:
    struct Paused {
        Paused() { ++depth(); }
        ~Paused() {
            if (--depth() == 0)
                resumedAt() = std::chrono::steady_clock::now();
        }
        Paused(const Paused&) = delete;
        Paused& operator=(const Paused&) = delete;
    };

    void start() {
        stop_ = false;
        thread_ = std::thread([this] {
            while (!stop_.load()) {
                auto answered = std::make_shared<std::atomic<bool>>(false);
                const auto sent = std::chrono::steady_clock::now();
                QMetaObject::invokeMethod(
                    &receiver_,
                    [this, answered, sent] {
                        const auto late =
                            std::chrono::steady_clock::now() - std::max(sent, resumedAt());
                        if (depth() == 0 && late > longest_) {
                            longest_ = late;
                            where_ = currentStep();
                        }
                        if (depth() == 0 && late > perStep_[currentStep()])
                            perStep_[currentStep()] = late;
                        if (depth() == 0 && phase() != QStringLiteral("composition (start-up)") &&
                            late > longestInUse_) {
                            longestInUse_ = late;
                            whereInUse_ = currentStep();
                        }
                        answered->store(true);
                    },
                    Qt::QueuedConnection);
                while (!answered->load() && !stop_.load())
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
    }
    void finish() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        QCoreApplication::processEvents();
    }
    std::chrono::steady_clock::duration longest() const { return longest_; }
    const QString& where() const { return where_; }
    /// The longest once the window is up (the start-up composition left out).
    std::chrono::steady_clock::duration longestInUse() const { return longestInUse_; }
    const QString& whereInUse() const { return whereInUse_; }
    /// The longest per step (and per named phase), in the order first seen.
    const std::vector<std::pair<QString, std::chrono::steady_clock::duration>> perStep() const {
        return {perStep_.begin(), perStep_.end()};
    }

    static int& depth() {
        static int d = 0;
        return d;
    }
    /// When the test's own work last ended (main thread only).
    static std::chrono::steady_clock::time_point& resumedAt() {
        static std::chrono::steady_clock::time_point at;
        return at;
    }
    /// A finer name for what runs now (empty: the step's name).
    static QString& phase() {
        static QString p;
        return p;
    }
    static QString currentStep() {
        if (!phase().isEmpty())
            return phase();
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        return info ? QString::fromUtf8(info->name()) : QStringLiteral("(between steps)");
    }

private:
    QObject receiver_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::chrono::steady_clock::duration longest_{};
    QString where_;
    std::chrono::steady_clock::duration longestInUse_{};
    QString whereInUse_;
    std::map<QString, std::chrono::steady_clock::duration> perStep_;
};

// ---- Helpers: finding, waiting, looking ---------------------------------------------------

template <typename F> bool waitFor(F condition, int ms = kWait) {
    return QTest::qWaitFor(condition, ms);
}

/// The visible widget of that type and name in any window.
template <typename T> T* visible(const QString& name) {
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->isVisible())
            continue;
        if (auto* self = qobject_cast<T*>(top); self && top->objectName() == name)
            return self;
        for (T* child : top->findChildren<T*>(name))
            if (child->isVisible())
                return child;
    }
    return nullptr;
}

template <typename T> T* waitVisible(const QString& name) {
    T* found = nullptr;
    waitFor([&] { return (found = visible<T>(name)) != nullptr; });
    return found;
}

QByteArray sha(const QByteArray& bytes) {
    StallProbe::Paused testWork;
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

QByteArray readFile(const QString& path) {
    StallProbe::Paused testWork;
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString writeFile(const QString& path, const QByteArray& bytes) {
    StallProbe::Paused testWork;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        ADD_FAILURE() << "cannot write " << path.toStdString();
    return path;
}

/// Deterministic bytes that differ from chunk to chunk.
QByteArray patterned(qint64 size, int seed) {
    StallProbe::Paused testWork;
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 x = 2463534242u + quint32(seed);
    for (qint64 i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = char(x & 0xFF);
    }
    return bytes;
}

/// Saves a PNG of the widget's window when TW_E2E_SHOTS names a folder.
void shot(QWidget* widget, const QString& name) {
    const QString dir = qEnvironmentVariable("TW_E2E_SHOTS");
    if (dir.isEmpty() || !widget)
        return;
    QDir().mkpath(dir);
    QWidget* window = widget->window();
    // Let pending layouts, shows and deletions settle first (what the next turn of the event
    // loop would put on screen).
    for (int turn = 0; turn < 3; ++turn) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
    window->grab().save(QDir(dir).filePath(name + QStringLiteral(".png")));
}

/// TW_E2E_DARK=1: the screens in a dark palette (as a dark desktop theme would give them).
void applyColourScheme() {
    if (qEnvironmentVariable("TW_E2E_DARK") != QStringLiteral("1"))
        return;
    QPalette dark;
    const QColor window(0x2b, 0x2b, 0x2d), base(0x1e, 0x1e, 0x20), text(0xe8, 0xe8, 0xea);
    dark.setColor(QPalette::Window, window);
    dark.setColor(QPalette::WindowText, text);
    dark.setColor(QPalette::Base, base);
    dark.setColor(QPalette::AlternateBase, QColor(0x26, 0x26, 0x28));
    dark.setColor(QPalette::ToolTipBase, base);
    dark.setColor(QPalette::ToolTipText, text);
    dark.setColor(QPalette::PlaceholderText, QColor(0x9a, 0x9a, 0xa0));
    dark.setColor(QPalette::Text, text);
    dark.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3c));
    dark.setColor(QPalette::ButtonText, text);
    dark.setColor(QPalette::BrightText, Qt::white);
    dark.setColor(QPalette::Highlight, QColor(0x2f, 0x6f, 0xd0));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::Link, QColor(0x6a, 0xa8, 0xff));
    dark.setColor(QPalette::Light, QColor(0x4a, 0x4a, 0x4c));
    dark.setColor(QPalette::Midlight, QColor(0x40, 0x40, 0x42));
    dark.setColor(QPalette::Mid, QColor(0x50, 0x50, 0x54));
    dark.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x1a));
    dark.setColor(QPalette::Shadow, Qt::black);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(QPalette::Disabled, role, QColor(0x80, 0x80, 0x84));
    QApplication::setPalette(dark);
}

/// The fake server's copy of a file (the test's own look, left out of the stall measure).
std::optional<FakeDriveServer::File> remoteFile(const QString& name) {
    StallProbe::Paused testWork;
    return session().drive.fileNamed(name);
}
std::optional<FakeDriveServer::File> remoteFileByID(const QString& id) {
    StallProbe::Paused testWork;
    return session().drive.file(id);
}

MainWindow& mainWindow() { return session().app->mainWindow(); }
AppModel& model() { return session().app->model(); }

StorageBrowserPane* pane() {
    return qobject_cast<StorageBrowserPane*>(mainWindow().detailWidget());
}

/// The shown folder's table once its listing is loaded.
FolderContentView* loadedContent() {
    FolderContentView* content = nullptr;
    waitFor([&] {
        StorageBrowserPane* p = pane();
        content = p ? p->content() : nullptr;
        return content && content->state() != FolderContentView::State::spinner &&
               content->state() != FolderContentView::State::error;
    });
    return content;
}

int rowNamed(FolderContentView* content, const QString& name) {
    FolderTableModel* rows = content->tableModel();
    for (int row = 0; row < rows->rowCount(); ++row)
        if (rows->item(row).name == name)
            return row;
    return -1;
}

/// The rows of the folder shown now (the table is rebuilt when the folder changes).
QStringList shownRows() {
    QStringList names;
    StorageBrowserPane* p = pane();
    FolderContentView* content = p ? p->content() : nullptr;
    if (!content)
        return names;
    for (int row = 0; row < content->tableModel()->rowCount(); ++row)
        names.append(content->tableModel()->item(row).name);
    return names;
}

QPoint rowPoint(FolderContentView* content, int row) {
    QTableView* table = content->table();
    return table->visualRect(table->model()->index(row, 0)).center();
}

/// Double-clicks the row of that name in the shown folder.
void doubleClickRow(const QString& name) {
    FolderContentView* content = loadedContent();
    ASSERT_NE(content, nullptr);
    ASSERT_TRUE(waitFor([&] { return rowNamed(content, name) >= 0; })) << name.toStdString();
    const QPoint point = rowPoint(content, rowNamed(content, name));
    QTest::mouseClick(content->table()->viewport(), Qt::LeftButton, {}, point);
    QTest::mouseDClick(content->table()->viewport(), Qt::LeftButton, {}, point);
}

/// Right-clicks the row of that name and chooses the context menu's entry.
void chooseFromRowMenu(const QString& name, const QString& entry) {
    FolderContentView* content = loadedContent();
    ASSERT_NE(content, nullptr);
    const int row = rowNamed(content, name);
    ASSERT_GE(row, 0) << name.toStdString();
    const QPoint point = rowPoint(content, row);
    QWidget* viewport = content->table()->viewport();
    QTest::mouseClick(viewport, Qt::LeftButton, {}, point);
    QContextMenuEvent event(QContextMenuEvent::Mouse, point, viewport->mapToGlobal(point));
    QApplication::sendEvent(viewport, &event);
    auto* menu = waitVisible<QMenu>(QStringLiteral("itemMenu"));
    ASSERT_NE(menu, nullptr);
    auto* action = menu->findChild<QAction*>(entry);
    ASSERT_NE(action, nullptr) << entry.toStdString();
    menu->close();
    action->trigger();
}

bool drop(QWidget* widget, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    const QPoint pos = widget->rect().center();
    QDragEnterEvent enter(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &enter);
    QDragMoveEvent move(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
    QDropEvent dropEvent(QPointF(pos), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &dropEvent);
    return dropEvent.isAccepted();
}

QString labelText(QWidget* in, const QString& name) {
    auto* label = in ? in->findChild<QLabel*>(name) : nullptr;
    return label ? label->text() : QString();
}

/// The only preview window, once it shows.
PreviewWindow* previewWindow() {
    return waitVisible<PreviewWindow>(QStringLiteral("previewWindow"));
}

/// Closes the preview windows and waits until they are gone (they delete themselves on
/// close, in a turn of an event loop).
void closePreviews() {
    QList<QPointer<QWidget>> windows;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (qobject_cast<PreviewWindow*>(top)) {
            windows.append(top);
            top->close();
        }
    EXPECT_TRUE(waitFor([&] {
        QEventLoop turn;
        QTimer::singleShot(0, &turn, &QEventLoop::quit);
        turn.exec();
        for (const QPointer<QWidget>& window : windows)
            if (window)
                return false;
        return true;
    }));
}


} // namespace

/// One step of the run: skipped when an earlier one failed, since each builds on the last.
class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        if (session().broken)
            GTEST_SKIP() << "an earlier step failed";
    }
    void TearDown() override {
        if (HasFailure()) {
            session().broken = true;
            shot(QApplication::activeWindow() ? QApplication::activeWindow()
                                              : static_cast<QWidget*>(session().app ? &mainWindow() : nullptr),
                 QStringLiteral("failed-") +
                     QString::fromUtf8(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        }
    }
};

// ---- The scenario ---------------------------------------------------------------------------

TEST_F(EndToEnd, FirstStartOnboardingAndGoogleSignIn) {
    Session& s = session();
    FakeDriveServer& drive = s.drive;
    std::optional<StallProbe::Paused> testWork(std::in_place); // making the account's files
    // The account on Google's side: a user, a quota, two folders down and a few files.
    drive.setClientID(kClientID, QStringLiteral("e2e-desktop-secret"));
    drive.setUser(QStringLiteral("ada@example.com"), QStringLiteral("Ada Lovelace"),
                  QStringLiteral("perm-ada"));
    drive.setQuota({{QStringLiteral("limit"), QStringLiteral("16106127360")},
                    {QStringLiteral("usage"), QStringLiteral("5368709120")},
                    {QStringLiteral("usageInDrive"), QStringLiteral("4294967296")}});
    s.projectsID = drive.addFolder(QStringLiteral("Projects"));
    s.plansID = drive.addFolder(QStringLiteral("Plans"), s.projectsID);
    drive.addFile(QStringLiteral("budget.txt"), QStringLiteral("text/plain"), "budget\n", s.plansID);
    s.reportID = drive.addFile(QStringLiteral("report.pdf"), QStringLiteral("application/pdf"),
                               makePDF(3, {{1, QStringLiteral("lighthouse")}}));
    s.photoID = drive.addFile(QStringLiteral("harbour.png"), QStringLiteral("image/png"),
                              makeImage(QSize(640, 400)));
    s.zipMember = patterned(70'000, 7);
    ZipBuilder zip;
    zip.addFile(QStringLiteral("notes/readme.txt"), "read me\n");
    zip.addFile(QStringLiteral("data/measurements.bin"), s.zipMember);
    s.zipID = drive.addFile(QStringLiteral("archive.zip"), QStringLiteral("application/zip"),
                            zip.bytes());
    // About a second of tone, as the media tests make it.
    if (!QStandardPaths::findExecutable(QStringLiteral("gst-launch-1.0")).isEmpty()) {
        const QString tone = s.scratch.filePath(QStringLiteral("tone.wav"));
        if (QProcess::execute(QStringLiteral("gst-launch-1.0"),
                              {QStringLiteral("-q"), QStringLiteral("audiotestsrc"),
                               QStringLiteral("num-buffers=45"), QStringLiteral("!"),
                               QStringLiteral("wavenc"), QStringLiteral("!"),
                               QStringLiteral("filesink"), QStringLiteral("location=") + tone}) == 0) {
            s.toneID = drive.addFile(QStringLiteral("tone.wav"), QStringLiteral("audio/wav"), readFile(tone));
            s.hasTone = true;
        }
    } else if (qEnvironmentVariable("CI") == QStringLiteral("true")) {
        ADD_FAILURE() << "gst-launch-1.0 is needed";
    }
#ifdef TW_E2E_BENCH
    const QString samples = drive.addFolder(QStringLiteral("Samples"), s.projectsID);
    drive.addFile(QStringLiteral("large.png"), QStringLiteral("image/png"),
                  makeImage(QSize(8000, 8000)), samples);
    if (s.hasTone) {
        const QString clip = s.scratch.filePath(QStringLiteral("clip.webm"));
        if (QProcess::execute(QStringLiteral("gst-launch-1.0"),
                              {QStringLiteral("-q"), QStringLiteral("videotestsrc"),
                               QStringLiteral("num-buffers=60"), QStringLiteral("!"),
                               QStringLiteral("video/x-raw,width=640,height=360"),
                               QStringLiteral("!"), QStringLiteral("vp8enc"), QStringLiteral("!"),
                               QStringLiteral("webmmux"), QStringLiteral("!"),
                               QStringLiteral("filesink"), QStringLiteral("location=") + clip}) == 0) {
            drive.addFile(QStringLiteral("clip.webm"), QStringLiteral("video/webm"), readFile(clip),
                          samples);
            s.hasClip = true;
        }
    }
#endif

    testWork.reset();

    // The same composition main() runs, with the test's browser and file dialogs.
    StallProbe::phase() = QStringLiteral("composition (start-up)");
    AppComposition::Seams seams;
    seams.browser = s.browser;
    seams.panels = s.panels;
    s.app = std::make_unique<Application>(Application::liveParts(seams));
    s.app->show();
    MainWindow& main = mainWindow();
    main.resize(1100, 700);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    StallProbe::phase().clear();

    // First start: onboarding (built after the window's first frame), no toolbar.
    EXPECT_TRUE(waitFor([&] { return main.isShowingOnboarding(); }));
    auto* title = waitVisible<QLabel>(QStringLiteral("onboardingTitle"));
    ASSERT_NE(title, nullptr);
    shot(&main, QStringLiteral("01-onboarding"));

    // Connect Google Drive: the browser goes to the sign-in page, the redirect comes back.
    auto* connect = visible<QPushButton>(QStringLiteral("connectGoogle"));
    ASSERT_NE(connect, nullptr);
    connect->click();
    ASSERT_TRUE(waitFor([&] { return main.presenter()->sheetKind() == WindowPresenter::Sheet::naming; }))
        << "no naming sheet; error: "
        << (model().presentedError() ? model().presentedError()->error.caseName().toStdString() : "none");
    EXPECT_EQ(s.browser->opened(), 1);
    EXPECT_EQ(drive.count(Endpoint::authorize), 1);
    EXPECT_GE(drive.count(Endpoint::token), 1);
    EXPECT_FALSE(main.isShowingOnboarding());

    // Name it.
    QDialog* naming = main.presenter()->sheet();
    ASSERT_NE(naming, nullptr);
    shot(naming, QStringLiteral("02-naming"));
    auto* name = naming->findChild<QLineEdit*>(QStringLiteral("storageName"));
    ASSERT_NE(name, nullptr);
    name->selectAll();
    QTest::keyClicks(name, kDriveName);
    QTest::keyClick(name, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return main.presenter()->sheetKind() == WindowPresenter::Sheet::none; }));
    ASSERT_EQ(model().accounts()->accounts().size(), 1);
    s.driveID = model().accounts()->accounts().first().id;
    EXPECT_EQ(model().accounts()->accounts().first().alias, kDriveName);

    // Home shows the account with its quota.
    s.app->commands().home()->trigger();
    ASSERT_TRUE(waitFor([&] { return main.detail() == MainWindow::Detail::home; }));
    QLabel* usage = nullptr;
    EXPECT_TRUE(waitFor([&] {
        usage = visible<QLabel>(QStringLiteral("storageRowUsage"));
        return usage && usage->text().contains(QStringLiteral("15"));
    })) << (usage ? usage->text().toStdString() : "no usage label");
    EXPECT_GE(drive.count(Endpoint::about), 1);
    shot(&main, QStringLiteral("03-home"));
}

TEST_F(EndToEnd, BrowsingTwoFoldersDownAndBackAndFiltering) {
    Session& s = session();
    s.app->commands().accountItems().first()->trigger();
    ASSERT_TRUE(waitFor([&] { return mainWindow().detail() == MainWindow::Detail::storage; }));
    FolderContentView* root = loadedContent();
    ASSERT_NE(root, nullptr);
    EXPECT_TRUE(waitFor([&] { return shownRows().contains(QStringLiteral("archive.zip")); }));
    EXPECT_EQ(pane()->title(), kDriveName);

    doubleClickRow(QStringLiteral("Projects"));
    ASSERT_TRUE(waitFor([&] { return pane()->path().size() == 1; }));
    doubleClickRow(QStringLiteral("Plans"));
    ASSERT_TRUE(waitFor([&] { return pane()->path().size() == 2; }));
    FolderContentView* plans = loadedContent();
    ASSERT_NE(plans, nullptr);
    EXPECT_TRUE(waitFor([&] { return shownRows() == QStringList{QStringLiteral("budget.txt")}; }));
    EXPECT_EQ(pane()->title(), QStringLiteral("Plans"));
    shot(&mainWindow(), QStringLiteral("04-two-folders-down"));

    // Back to the top through the breadcrumbs (the path menu).
    Q_EMIT pane()->pathMenu()->aboutToShow();
    QAction* top = pane()->pathMenu()->findChild<QAction*>(QStringLiteral("pathDepth0"));
    ASSERT_NE(top, nullptr);
    top->trigger();
    ASSERT_TRUE(waitFor([&] { return pane()->path().isEmpty(); }));
    root = loadedContent();
    ASSERT_NE(root, nullptr);

    // The category filter: photos only.
    QToolButton* photos = nullptr;
    for (QToolButton* button : root->findChildren<QToolButton*>())
        if (button->text() == FileCategories::displayName(FileCategory::photos))
            photos = button;
    ASSERT_NE(photos, nullptr);
    photos->click();
    EXPECT_TRUE(waitFor([&] { return shownRows() == QStringList{QStringLiteral("harbour.png")}; }))
        << shownRows().join(',').toStdString();
    shot(&mainWindow(), QStringLiteral("05-filter-photos"));
    // And all again.
    for (QToolButton* button : root->findChildren<QToolButton*>())
        if (button->text() == QStringLiteral("All"))
            button->click();
    EXPECT_TRUE(waitFor([&] { return shownRows().size() == (s.hasTone ? 5 : 4); }))
        << shownRows().join(',').toStdString();
    shot(&mainWindow(), QStringLiteral("main-window"));
}

TEST_F(EndToEnd, PreviewsOfAPdfAnImageAnArchiveAndAudio) {
    Session& s = session();

    // The PDF: find a word.
    doubleClickRow(QStringLiteral("report.pdf"));
    PreviewWindow* pdf = previewWindow();
    ASSERT_NE(pdf, nullptr);
    ASSERT_TRUE(waitFor([&] { return pdf->pdf()->pageCount() == 3; }));
    QLineEdit* find = pdf->searchField();
    ASSERT_NE(find, nullptr);
    ASSERT_TRUE(waitFor([&] { return find->isVisible(); }));
    find->setFocus();
    QTest::keyClicks(find, QStringLiteral("lighthouse"));
    QTest::keyClick(find, Qt::Key_Return);
    EXPECT_TRUE(waitFor([&] { return pdf->pdf()->matchCount() == 1; }));
    EXPECT_TRUE(waitFor([&] { return labelText(pdf, QStringLiteral("previewMatchCount")) == QStringLiteral("1 match"); }))
        << labelText(pdf, QStringLiteral("previewMatchCount")).toStdString();
    // The page's tiles come from their own task: the picture is taken once they are drawn.
    auto* pages = pdf->findChild<PDFPageView*>();
    ASSERT_NE(pages, nullptr);
    EXPECT_TRUE(waitFor([&] { return !pages->hasPendingRenders(); }));
    QApplication::processEvents();
    shot(pdf, QStringLiteral("06-preview-pdf"));
    closePreviews();

    // The image.
    doubleClickRow(QStringLiteral("harbour.png"));
    PreviewWindow* image = previewWindow();
    ASSERT_NE(image, nullptr);
    EXPECT_TRUE(waitFor([&] { return visible<QWidget>(QStringLiteral("imageViewer")) != nullptr; }));
    shot(image, QStringLiteral("07-preview-image"));
    closePreviews();

    // The archive: extract one member to a chosen path, byte-exact.
    doubleClickRow(QStringLiteral("archive.zip"));
    PreviewWindow* archive = previewWindow();
    ASSERT_NE(archive, nullptr);
    auto* viewer = waitVisible<ArchiveViewer>(QStringLiteral("archiveViewer"));
    ASSERT_NE(viewer, nullptr);
    auto* table = viewer->findChild<QTableView*>(QStringLiteral("archiveTable"));
    ASSERT_NE(table, nullptr);
    int memberRow = -1;
    ASSERT_TRUE(waitFor([&] {
        for (int row = 0; row < table->model()->rowCount(); ++row)
            if (table->model()->index(row, 0).data().toString().contains(QStringLiteral("measurements")))
                memberRow = row;
        return memberRow >= 0;
    }));
    table->selectRow(memberRow);
    const QString target = s.scratch.filePath(QStringLiteral("extracted/measurements.bin"));
    QDir().mkpath(QFileInfo(target).absolutePath());
    ArchiveViewer::setSaveChooser([target](QWidget*, const QString&, std::function<void(const QUrl&)> onChosen) {
        QTimer::singleShot(0, qApp, [onChosen, target] { onChosen(QUrl::fromLocalFile(target)); });
    });
    shot(archive, QStringLiteral("08-preview-archive"));
    ASSERT_TRUE(viewer->extractButton() && viewer->extractButton()->isEnabled());
    QSignalSpy extracted(viewer, &ArchiveViewer::extractionFinished);
    viewer->extractButton()->click();
    ASSERT_TRUE(waitFor([&] { return !extracted.isEmpty(); }));
    EXPECT_TRUE(extracted.first().first().toBool());
    EXPECT_EQ(sha(readFile(target)), sha(s.zipMember));
    closePreviews();

    // A short audio file, played to its end (real playback is left out under the sanitizers,
    // as in the media tests).
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
    const bool play = false;
#else
    const bool play = s.hasTone;
#endif
    if (!play)
        return;
    // The start: from the double-click until the tone plays.
    StallProbe::phase() = QStringLiteral("audio start");
    doubleClickRow(QStringLiteral("tone.wav"));
    PreviewWindow* audio = previewWindow();
    ASSERT_NE(audio, nullptr);
    PlayerHost* host = nullptr;
    ASSERT_TRUE(waitFor([&] { return (host = audio->findChild<PlayerHost*>()) && host->player(); }));
    QMediaPlayer* player = host->player();
    EXPECT_TRUE(waitFor([&] { return player->position() > 0 || player->error() != QMediaPlayer::NoError; }));
    StallProbe::phase() = QStringLiteral("audio playback");
    shot(audio, QStringLiteral("08b-preview-audio"));
    EXPECT_TRUE(waitFor([&] {
        return player->mediaStatus() == QMediaPlayer::EndOfMedia || player->error() != QMediaPlayer::NoError;
    }));
    EXPECT_EQ(player->error(), QMediaPlayer::NoError) << player->errorString().toStdString();
    EXPECT_EQ(player->mediaStatus(), QMediaPlayer::EndOfMedia);
    closePreviews();
    StallProbe::phase().clear();
}

#ifdef TW_E2E_BENCH
// The benchmark's own step: a PDF zoomed to its largest steps, an 8000 x 8000 image and a short
// video. Each zoom step and the image get a dwell (not a synchronisation: the time in which
// their rendering runs while the probe measures).
TEST_F(EndToEnd, ALargeImageAPdfAtItsLargestZoomAndVideo) {
    Session& s = session();
    const auto dwell = [] {
        QElapsedTimer dwelt;
        dwelt.start();
        waitFor([&] { return dwelt.elapsed() >= 400; }, 1000);
    };

    StallProbe::phase() = QStringLiteral("PDF at its largest zoom steps");
    doubleClickRow(QStringLiteral("report.pdf"));
    PreviewWindow* pdf = previewWindow();
    ASSERT_NE(pdf, nullptr);
    ASSERT_TRUE(waitFor([&] { return pdf->pdf()->pageCount() == 3; }));
    PDFPageView* pages = nullptr;
    ASSERT_TRUE(waitFor([&] { return (pages = pdf->findChild<PDFPageView*>()) != nullptr; }));
    while (pages->scaleFactor() < PDFPageView::maximumScale) {
        pdf->pdf()->zoomIn();
        dwell();
    }
    closePreviews();

    StallProbe::phase() = QStringLiteral("image 8000 x 8000");
    doubleClickRow(QStringLiteral("Projects"));
    ASSERT_TRUE(waitFor([&] { return pane()->path().size() == 1; }));
    doubleClickRow(QStringLiteral("Samples"));
    ASSERT_TRUE(waitFor([&] { return pane()->path().size() == 2; }));
    doubleClickRow(QStringLiteral("large.png"));
    PreviewWindow* image = previewWindow();
    ASSERT_NE(image, nullptr);
    EXPECT_TRUE(waitFor([&] { return visible<QWidget>(QStringLiteral("imageViewer")) != nullptr; }));
    dwell();
    dwell();
    closePreviews();

    if (s.hasClip) {
        StallProbe::phase() = QStringLiteral("video start");
        doubleClickRow(QStringLiteral("clip.webm"));
        PreviewWindow* video = previewWindow();
        ASSERT_NE(video, nullptr);
        PlayerHost* host = nullptr;
        ASSERT_TRUE(waitFor([&] { return (host = video->findChild<PlayerHost*>()) && host->player(); }));
        QMediaPlayer* player = host->player();
        EXPECT_TRUE(waitFor([&] { return player->position() > 0 || player->error() != QMediaPlayer::NoError; }));
        StallProbe::phase() = QStringLiteral("video playback");
        EXPECT_TRUE(waitFor([&] {
            return player->mediaStatus() == QMediaPlayer::EndOfMedia || player->error() != QMediaPlayer::NoError;
        }));
        EXPECT_EQ(player->error(), QMediaPlayer::NoError) << player->errorString().toStdString();
        closePreviews();
    }
    StallProbe::phase().clear();

    // Back to the top, where the next step starts.
    Q_EMIT pane()->pathMenu()->aboutToShow();
    QAction* top = pane()->pathMenu()->findChild<QAction*>(QStringLiteral("pathDepth0"));
    ASSERT_NE(top, nullptr);
    top->trigger();
    ASSERT_TRUE(waitFor([&] { return pane()->path().isEmpty(); }));
    ASSERT_NE(loadedContent(), nullptr);
}
#endif

TEST_F(EndToEnd, DroppedFilesUploadThroughA503BurstAndADroppedChunk) {
    Session& s = session();
    FakeDriveServer& drive = s.drive;
    // Into Projects.
    doubleClickRow(QStringLiteral("Projects"));
    ASSERT_TRUE(waitFor([&] { return pane()->path().size() == 1; }));
    ASSERT_NE(loadedContent(), nullptr);

    const QByteArray small = patterned(12'345, 1);
    // Three resumable chunks of 8 MiB (the last one shorter).
    const QByteArray large = patterned(20 * 1024 * 1024 + 4321, 2);
    const QString smallPath = writeFile(s.scratch.filePath(QStringLiteral("local/notes.txt")), small);
    const QString largePath = writeFile(s.scratch.filePath(QStringLiteral("local/survey.bin")), large);

    // The service has a bad moment in the middle: a burst of 503s, then a chunk whose
    // connection breaks off half-way.
    drive.injectFault(Endpoint::uploadChunk, FakeDriveServer::Fault::http(503), 2);
    drive.injectFault(Endpoint::uploadChunk, FakeDriveServer::Fault::dropped(), 1);

    QStringList toastTexts;
    QObject watching; // ends the watch with the step
    QObject::connect(&model(), &AppModel::uploadToastChanged, &watching, [&] {
        if (model().uploadToast())
            toastTexts.append(model().uploadToast()->destination);
    });
    ASSERT_TRUE(drop(pane(), {QUrl::fromLocalFile(smallPath), QUrl::fromLocalFile(largePath)}));
    auto* toast = waitVisible<QWidget>(QStringLiteral("uploadToast"));
    ASSERT_NE(toast, nullptr);
    shot(&mainWindow(), QStringLiteral("09-upload-toast"));
    // The toast floats over the content: the split view keeps its two panes.
    auto* split = mainWindow().findChild<QSplitter*>(QStringLiteral("mainSplit"));
    ASSERT_NE(split, nullptr);
    EXPECT_EQ(split->count(), 2);
    EXPECT_EQ(mainWindow().detailWidget()->window(), &mainWindow());
    EXPECT_GE(split->widget(1)->width() + split->widget(0)->width(), split->width() - 10);
    EXPECT_FALSE(toastTexts.isEmpty());
    for (const QString& text : toastTexts)
        EXPECT_EQ(text, kDriveName + QStringLiteral(" \u203a Projects"));

    // Both arrive, byte-exact, in Projects; nothing was lost to the faults.
    ASSERT_TRUE(waitFor([&] {
        return remoteFile(QStringLiteral("notes.txt")) && remoteFile(QStringLiteral("survey.bin"));
    }, 60000));
    const auto notes = remoteFile(QStringLiteral("notes.txt"));
    const auto survey = remoteFile(QStringLiteral("survey.bin"));
    EXPECT_EQ(sha(notes->content), sha(small));
    EXPECT_EQ(survey->content.size(), large.size());
    EXPECT_EQ(sha(survey->content), sha(large));
    EXPECT_EQ(notes->parents, QStringList{s.projectsID});
    EXPECT_EQ(survey->parents, QStringList{s.projectsID});
    EXPECT_GE(drive.count(Endpoint::uploadChunk), 3 + 3);
    EXPECT_TRUE(drive.violations().isEmpty()) << drive.violations().join('\n').toStdString();
    ASSERT_NE(loadedContent(), nullptr);
    EXPECT_TRUE(waitFor([&] {
        return shownRows().contains(QStringLiteral("survey.bin")) &&
               shownRows().contains(QStringLiteral("notes.txt"));
    })) << shownRows().join(',').toStdString();

    // The uploads popover lists both.
    auto* button = mainWindow().findChild<QToolButton*>(QStringLiteral("uploadsButton"));
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(waitFor([&] { return button->isVisible(); }));
    button->click();
    auto* popover = waitVisible<QWidget>(QStringLiteral("uploadsPopover"));
    ASSERT_NE(popover, nullptr);
    auto* list = popover->findChild<QListView*>(QStringLiteral("uploadsList"));
    ASSERT_NE(list, nullptr);
    QStringList listed;
    for (int row = 0; row < list->model()->rowCount(); ++row)
        listed.append(list->model()->index(row, 0).data().toString());
    listed.sort();
    EXPECT_EQ(listed, (QStringList{QStringLiteral("notes.txt"), QStringLiteral("survey.bin")}));
    shot(popover, QStringLiteral("10-uploads-popover"));
    QTest::keyClick(popover, Qt::Key_Escape);
    EXPECT_TRUE(waitFor([&] { return !model().isUploadsPopoverShown(); }));
}

TEST_F(EndToEnd, CreateAFolderRenameAFileAndTrashIt) {
    Session& s = session();
    // A new folder, through the sheet.
    pane()->newFolderAction()->trigger();
    auto* sheet = waitVisible<QWidget>(QStringLiteral("newFolderSheet"));
    ASSERT_NE(sheet, nullptr);
    auto* field = sheet->findChild<QLineEdit*>(QStringLiteral("textPromptField"));
    ASSERT_NE(field, nullptr);
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("Minutes"));
    shot(sheet, QStringLiteral("11-new-folder"));
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return remoteFile(QStringLiteral("Minutes")).has_value(); }));
    EXPECT_TRUE(remoteFile(QStringLiteral("Minutes"))->isFolder());
    EXPECT_EQ(remoteFile(QStringLiteral("Minutes"))->parents, QStringList{s.projectsID});
    ASSERT_NE(loadedContent(), nullptr);
    EXPECT_TRUE(waitFor([&] { return shownRows().contains(QStringLiteral("Minutes")); }));

    // Rename a file through its context menu.
    const QString notesID = remoteFile(QStringLiteral("notes.txt"))->id;
    chooseFromRowMenu(QStringLiteral("notes.txt"), QStringLiteral("itemRename"));
    auto* rename = waitVisible<QWidget>(QStringLiteral("renameSheet"));
    ASSERT_NE(rename, nullptr);
    auto* renameField = rename->findChild<QLineEdit*>(QStringLiteral("textPromptField"));
    ASSERT_NE(renameField, nullptr);
    renameField->selectAll();
    QTest::keyClicks(renameField, QStringLiteral("notes-final.txt"));
    QTest::keyClick(renameField, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return remoteFileByID(notesID)->name == QStringLiteral("notes-final.txt"); }));
    EXPECT_TRUE(waitFor([&] { return shownRows().contains(QStringLiteral("notes-final.txt")); }));

    // And move it to the trash, confirmed.
    chooseFromRowMenu(QStringLiteral("notes-final.txt"), QStringLiteral("itemTrash"));
    auto* confirm = waitVisible<QPushButton>(QStringLiteral("trashConfirm"));
    ASSERT_NE(confirm, nullptr);
    shot(confirm, QStringLiteral("12-trash-confirmation"));
    confirm->click();
    ASSERT_TRUE(waitFor([&] { return remoteFileByID(notesID)->trashed; }));
    EXPECT_TRUE(waitFor([&] { return !shownRows().contains(QStringLiteral("notes-final.txt")); }));
    EXPECT_TRUE(remoteFile(QStringLiteral("survey.bin")).has_value()) << "nothing else went";
}

TEST_F(EndToEnd, TelegramSignInSavedMessagesUploadAndDownload) {
    Session& s = session();
    // The Telegram account: a code by SMS and a two-step password.
    auto document = [](qint64 chat, qint64 id, const QString& name, qint64 fileID, qint64 size) {
        const QJsonObject file{{"@type", "file"}, {"id", fileID}, {"size", size}, {"expected_size", size}};
        return QJsonObject{{"@type", "message"}, {"id", id}, {"chat_id", chat}, {"date", 1'750'000'000},
                           {"content", QJsonObject{{"@type", "messageDocument"},
                                                   {"document", QJsonObject{{"@type", "document"},
                                                                            {"file_name", name},
                                                                            {"mime_type", "application/pdf"},
                                                                            {"document", file}}}}}};
    };
    // The fake user's id is 42, and so is the id of its Saved Messages chat.
    s.td->configure({{"chats", QJsonArray{QJsonObject{
                                   {"id", -100},
                                   {"title", "Travel"},
                                   {"type", QJsonObject{{"@type", "chatTypeSupergroup"},
                                                        {"supergroup_id", 100},
                                                        {"is_channel", true}}},
                                   {"status", "chatMemberStatusCreator"}}}},
                     {"messages", QJsonArray{document(42, 10, "boarding-pass.pdf", 501, 9),
                                             document(-100, 5, "itinerary.pdf", 502, 9)}},
                     {"files", QJsonObject{{"501", QJsonObject{{"content", "boarding!"}}},
                                           {"502", QJsonObject{{"content", "itinerary"}}}}},
                     {"code_type", "authenticationCodeTypeSms"},
                     {"code", "24680"},
                     {"password", "correct horse"},
                     {"password_hint", "the usual"}});
    const int clientsBefore = s.td->liveClients();

    s.app->commands().connectTelegram()->trigger();
    MainWindow& main = mainWindow();
    auto answer = [&](const QString& text, const QString& screen) {
        QLineEdit* field = nullptr;
        EXPECT_TRUE(waitFor([&] {
            field = visible<QLineEdit>(QStringLiteral("telegramLoginField"));
            return field && field->isEnabled() && field->text().isEmpty();
        })) << screen.toStdString();
        if (!field)
            return;
        shot(field, screen);
        field->setFocus();
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
        // The sheet goes on to the next step (or away) once Telegram answered.
        EXPECT_TRUE(waitFor([&] {
            auto* now = visible<QLineEdit>(QStringLiteral("telegramLoginField"));
            return !now || now->text().isEmpty();
        })) << screen.toStdString();
    };
    answer(QStringLiteral("+1 555 0100"), QStringLiteral("13-telegram-phone"));
    answer(QStringLiteral("24680"), QStringLiteral("14-telegram-code"));
    answer(QStringLiteral("correct horse"), QStringLiteral("15-telegram-password"));
    ASSERT_TRUE(waitFor([&] { return main.presenter()->sheetKind() == WindowPresenter::Sheet::naming; }))
        << "sheet " << int(main.presenter()->sheetKind());
    const QStringList types = s.td->requestTypes();
    EXPECT_TRUE(types.contains(QStringLiteral("setAuthenticationPhoneNumber")));
    EXPECT_TRUE(types.contains(QStringLiteral("checkAuthenticationCode")));
    EXPECT_TRUE(types.contains(QStringLiteral("checkAuthenticationPassword")));
    auto* name = main.presenter()->sheet()->findChild<QLineEdit*>(QStringLiteral("storageName"));
    ASSERT_NE(name, nullptr);
    QTest::keyClick(name, Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return main.presenter()->sheetKind() == WindowPresenter::Sheet::none; }));
    ASSERT_EQ(model().accounts()->accounts().size(), 2);
    for (const StorageAccount& account : model().accounts()->accounts())
        if (account.provider == ProviderKind::telegram)
            s.telegramID = account.id;
    ASSERT_FALSE(s.telegramID.isNull());
    EXPECT_EQ(s.td->liveClients(), clientsBefore + 1);

    // Saved Messages are the account's top level, beside the user's own channels.
    ASSERT_TRUE(waitFor([&] { return model().selection() == SidebarItem::storage(s.telegramID); }));
    ASSERT_NE(loadedContent(), nullptr);
    EXPECT_TRUE(waitFor([&] {
        return shownRows().contains(QStringLiteral("boarding-pass.pdf")) &&
               shownRows().contains(QStringLiteral("Travel"));
    })) << shownRows().join(',').toStdString();
    doubleClickRow(QStringLiteral("Travel"));
    ASSERT_TRUE(waitFor([&] { return pane()->path().size() == 1; }));
    ASSERT_NE(loadedContent(), nullptr);
    EXPECT_TRUE(waitFor([&] { return shownRows() == QStringList{QStringLiteral("itinerary.pdf")}; }))
        << shownRows().join(',').toStdString();
    pane()->backAction()->trigger();
    ASSERT_TRUE(waitFor([&] { return pane()->path().isEmpty(); }));
    ASSERT_NE(loadedContent(), nullptr);

    // Upload a file through File › Upload Files…, answered by the test.
    const QByteArray bytes = patterned(300'000, 3);
    const QString local = writeFile(s.scratch.filePath(QStringLiteral("local/field-report.txt")), bytes);
    s.panels->nextFiles = {QUrl::fromLocalFile(local)};
    s.app->commands().uploadFiles()->trigger();
    ASSERT_TRUE(waitFor([&] { return shownRows().contains(QStringLiteral("field-report.txt")); }))
        << shownRows().join(',').toStdString();
    EXPECT_TRUE(s.td->requestTypes().contains(QStringLiteral("sendMessage")));
    shot(&main, QStringLiteral("16-telegram-saved-messages"));

    // And back, through the context menu's Download…, byte-exact.
    const QString copy = s.scratch.filePath(QStringLiteral("downloads/field-report.txt"));
    QDir().mkpath(QFileInfo(copy).absolutePath());
    s.panels->nextSavePath = copy;
    chooseFromRowMenu(QStringLiteral("field-report.txt"), QStringLiteral("itemDownload"));
    ASSERT_TRUE(waitFor([&] { return QFileInfo(copy).size() == bytes.size(); }));
    EXPECT_EQ(sha(readFile(copy)), sha(bytes));
    EXPECT_EQ(s.panels->proposed, QStringLiteral("field-report.txt"));
}

TEST_F(EndToEnd, SearchAcrossAccountsAndOpenAResult) {
    MainWindow& main = mainWindow();
    auto* field = main.findChild<SearchField*>();
    ASSERT_NE(field, nullptr);
    QLineEdit* edit = field->lineEdit();
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("report"));
    ASSERT_TRUE(waitFor([&] { return main.detail() == MainWindow::Detail::search; }));
    auto* results = qobject_cast<SearchResultsView*>(main.detailWidget());
    ASSERT_NE(results, nullptr);
    auto found = [&] {
        QSet<QUuid> accounts;
        QStringList names;
        for (const FileItem& item : results->resultsModel()->items()) {
            accounts.insert(item.ref.accountID);
            names.append(item.name);
        }
        names.sort();
        return std::make_pair(accounts, names);
    };
    EXPECT_TRUE(waitFor([&] { return found().first.size() == 2; }))
        << found().second.join(',').toStdString();
    EXPECT_TRUE(found().second.contains(QStringLiteral("report.pdf")));
    EXPECT_TRUE(found().second.contains(QStringLiteral("field-report.txt")));
    shot(&main, QStringLiteral("17-search"));

    // Open the Drive result: its preview.
    int row = -1;
    for (int i = 0; i < results->resultsModel()->rowCount(); ++i)
        if (results->resultsModel()->item(i).name == QStringLiteral("report.pdf"))
            row = i;
    ASSERT_GE(row, 0);
    QTableView* table = results->table();
    const QPoint point = table->visualRect(table->model()->index(row, 0)).center();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, point);
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, point);
    PreviewWindow* preview = previewWindow();
    ASSERT_NE(preview, nullptr);
    ASSERT_TRUE(preview->item().has_value());
    EXPECT_EQ(preview->item()->name, QStringLiteral("report.pdf"));
    closePreviews();
    edit->clear();
    EXPECT_TRUE(waitFor([&] { return main.detail() != MainWindow::Detail::search; }));
}

TEST_F(EndToEnd, SmartUploadOfThreeFiles) {
    Session& s = session();
    s.app->commands().smartUpload()->trigger();
    MainWindow& main = mainWindow();
    ASSERT_TRUE(waitFor([&] { return main.detail() == MainWindow::Detail::smartUpload; }));
    auto* zone = visible<QWidget>(QStringLiteral("smartUploadDropZone"));
    ASSERT_NE(zone, nullptr);
    const QStringList names{QStringLiteral("holiday.jpg"), QStringLiteral("minutes.pdf"),
                            QStringLiteral("song.mp3")};
    QList<QUrl> urls;
    QHash<QString, QByteArray> contents;
    for (int i = 0; i < names.size(); ++i) {
        contents.insert(names[i], patterned(5000 + i * 1000, 10 + i));
        urls.append(QUrl::fromLocalFile(
            writeFile(s.scratch.filePath(QStringLiteral("smart/") + names[i]), contents[names[i]])));
    }
    ASSERT_TRUE(drop(main.detailWidget(), urls));
    ASSERT_TRUE(waitFor([&] { return model().smartBatch().size() == 3; }));
    shot(&main, QStringLiteral("18-smart-upload"));
    // Accept the suggestions as they stand: every item has a target.
    for (const SmartUploadItem& item : model().smartBatch())
        EXPECT_TRUE(item.target.has_value()) << item.file.name.toStdString();
    auto* upload = visible<QPushButton>(QStringLiteral("smartUploadUpload"));
    ASSERT_NE(upload, nullptr);
    ASSERT_TRUE(upload->isEnabled());
    upload->click();

    // All three arrive, each byte-exact, on Drive or in Telegram as suggested.
    ASSERT_TRUE(waitFor([&] {
        int done = 0;
        for (const UploadJob& job : model().uploads()->jobs())
            if (names.contains(job.file.name) && job.state.kind == UploadJob::State::Kind::completed)
                ++done;
        return done == 3;
    }, 60000));
    for (const QString& name : names) {
        if (const auto onDrive = remoteFile(name)) {
            EXPECT_EQ(sha(onDrive->content), sha(contents[name])) << name.toStdString();
        }
    }
    EXPECT_TRUE(model().smartBatch().isEmpty());
}

TEST_F(EndToEnd, SettingsUploadsCacheAndDisconnectingTelegram) {
    Session& s = session();
    s.app->commands().settings()->trigger();
    SettingsWindow* settings = nullptr;
    ASSERT_TRUE(waitFor([&] { return (settings = s.app->settingsWindow()) && settings->isVisible(); }));
    auto* tabs = settings->findChild<QTabWidget*>(QStringLiteral("settingsTabs"));
    ASSERT_NE(tabs, nullptr);

    // General: three uploads at once; the preview cache emptied.
    tabs->setCurrentWidget(settings->findChild<QWidget*>(QStringLiteral("generalSettings")));
    auto* simultaneous = settings->findChild<QComboBox*>(QStringLiteral("simultaneousUploads"));
    ASSERT_NE(simultaneous, nullptr);
    ASSERT_EQ(simultaneous->currentData().toInt(), 2);
    simultaneous->setFocus();
    QTest::keyClick(simultaneous, Qt::Key_Down);
    EXPECT_EQ(model().uploads()->maxConcurrentUploads(), 3);
    const QString cache = model().previewCache()->directory();
    auto cached = [&] {
        QStringList entries = QDir(cache).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        entries.removeAll(QStringLiteral("CACHEDIR.TAG"));
        return entries.size();
    };
    EXPECT_GT(cached(), 0) << "the previews were cached";
    shot(settings, QStringLiteral("19-settings-general"));
    auto* clear = settings->findChild<QPushButton*>(QStringLiteral("clearPreviewCache"));
    ASSERT_NE(clear, nullptr);
    // Enabled once the cache's size was read.
    ASSERT_TRUE(waitFor([&] { return clear->isEnabled(); }));
    const QDateTime clickedAt = QDateTime::currentDateTime();
    clear->click();
    EXPECT_TRUE(waitFor([&] { return cached() == 0; })) << [&] {
        QString listing;
        for (const QFileInfo& info : QDir(cache).entryInfoList(QDir::Files))
            listing += info.fileName() + QStringLiteral(" written ") +
                       QString::number(clickedAt.msecsTo(info.lastModified())) +
                       QStringLiteral(" ms after the click; ");
        return listing.toStdString();
    }();

    // Accounts: disconnect Telegram, confirmed.
    tabs->setCurrentWidget(settings->findChild<QWidget*>(QStringLiteral("accountsSettings")));
    auto* list = settings->findChild<QListWidget*>(QStringLiteral("accountsList"));
    ASSERT_NE(list, nullptr);
    int telegramRow = -1;
    for (int row = 0; row < list->count(); ++row)
        if (list->item(row)->data(Qt::UserRole + 1).toUuid() == s.telegramID)
            telegramRow = row;
    ASSERT_GE(telegramRow, 0);
    list->setCurrentRow(telegramRow);
    auto* minus = settings->findChild<QToolButton*>(QStringLiteral("accountsDisconnect"));
    ASSERT_NE(minus, nullptr);
    minus->click();
    auto* confirm = waitVisible<QPushButton>(QStringLiteral("disconnectConfirm"));
    ASSERT_NE(confirm, nullptr);
    shot(confirm, QStringLiteral("20-disconnect-confirmation"));
    confirm->click();
    ASSERT_TRUE(waitFor([&] { return model().accounts()->accounts().size() == 1; }));
    EXPECT_EQ(model().accounts()->accounts().first().id, s.driveID);
    EXPECT_TRUE(waitFor([&] { return s.td->requestTypes().contains(QStringLiteral("logOut")); }));
    EXPECT_TRUE(waitFor([&] { return s.td->liveClients() == 0; }));
    settings->close();
}

TEST_F(EndToEnd, QuitThroughTheMenuThenASecondStartRestoresTheGoogleAccount) {
    Session& s = session();
    const QString driveAlias = model().accounts()->accounts().first().alias;
    const int authorizeBefore = s.drive.count(Endpoint::authorize);

    // File › Quit: the protocol closes the Telegram sessions and ends the event loop, as in
    // main(); a guard ends a loop that would never end.
    QTimer::singleShot(0, s.app.get(), [&] { s.app->commands().quit()->trigger(); });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    guard.start(kWait);
    const int status = QApplication::exec();
    guard.stop();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(s.app->quitController().state(), QuitController::State::terminated);
    EXPECT_EQ(s.td->liveClients(), 0) << "no Telegram session is left open";
    QApplication::closeAllWindows();
    s.app.reset();

    // The second start: a process of its own over the same folders and keyring.
    StallProbe::Paused otherProcess; // this process only waits for the other one
    QProcess second;
    second.setProcessChannelMode(QProcess::SeparateChannels);
    second.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--second-start")});
    ASSERT_TRUE(second.waitForStarted());
    ASSERT_TRUE(second.waitForFinished(60000)) << "the second start did not end";
    const QString out = QString::fromUtf8(second.readAllStandardOutput());
    const QString err = QString::fromUtf8(second.readAllStandardError());
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << out.toStdString() << err.toStdString();
    const QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    EXPECT_TRUE(lines.contains(QStringLiteral("accounts 1"))) << out.toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("account googleDrive ") + driveAlias +
                               QStringLiteral(" ada@example.com connected")))
        << out.toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("onboarding no"))) << out.toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("browser opened 0"))) << out.toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("quit 0"))) << out.toStdString();
    // Google was not asked again: no sign-in page, only the stored sign-in at work.
    EXPECT_EQ(s.drive.count(Endpoint::authorize), authorizeBefore);
}

namespace {

/// The second start (this executable with --second-start): the application as main() builds
/// it, with the following browser (which would sign in again, silently, if asked: the count
/// tells) and the person: it waits until the Google account shows its quota on Home, reports
/// what the window shows, and quits through the menu.
int secondStart(int argc, char** argv) {
    QApplication app(argc, argv);
    setApplicationIdentity(QStringLiteral("0.0.0-e2e"));
    QApplication::setQuitOnLastWindowClosed(false);
    applyColourScheme();
    auto browser = std::make_shared<FollowingBrowser>();
    AppComposition::Seams seams;
    seams.browser = browser;
    seams.panels = std::make_shared<AnsweringPanels>();
    int status = 0;
    {
        Application application(Application::liveParts(seams));
        application.show();
        application.mainWindow().resize(1100, 700);
        QTextStream out(stdout);
        QTimer person;
        int waited = 0;
        QObject::connect(&person, &QTimer::timeout, &application, [&] {
            auto* usage = visible<QLabel>(QStringLiteral("storageRowUsage"));
            const bool ready = usage && usage->text().contains(QStringLiteral("15"));
            if (!ready && ++waited < 600)
                return;
            person.stop();
            shot(&application.mainWindow(), QStringLiteral("21-second-start"));
            const QList<StorageAccount> accounts = application.model().accounts()->accounts();
            out << "accounts " << accounts.size() << "\n";
            for (const StorageAccount& account : accounts)
                out << "account " << ProviderKinds::rawValue(account.provider) << " " << account.alias
                    << " " << account.email << " "
                    << (account.status == StorageAccount::Status::connected ? "connected" : "other")
                    << "\n";
            out << "onboarding " << (application.mainWindow().isShowingOnboarding() ? "yes" : "no")
                << "\n";
            out << "browser opened " << browser->opened() << "\n";
            out.flush();
            application.commands().quit()->trigger();
        });
        person.start(50);
        status = QApplication::exec();
        out << "quit " << status << "\n";
        out.flush();
        QApplication::closeAllWindows();
    }
    browser->join();
    std::fflush(stdout);
    _exit(status);
}

} // namespace

#ifdef TW_E2E_BENCH
namespace {

/// The scenario with every back-end call delayed (TW_E2E_DELAY_MS, default 300 ms): the main
/// thread's longest stall over the whole run, and the run's time against the delays it waited.
int runMeasured(Session& session) {
    const int delayMs = qEnvironmentVariableIntValue("TW_E2E_DELAY_MS") > 0
                            ? qEnvironmentVariableIntValue("TW_E2E_DELAY_MS")
                            : 300;
    session.drive.setResponseDelay(std::chrono::milliseconds(delayMs));
    session.td->setDelay(delayMs);
    StallProbe probe;
    probe.start();
    const auto started = std::chrono::steady_clock::now();
    const int status = RUN_ALL_TESTS();
    const auto elapsed = std::chrono::steady_clock::now() - started;
    probe.finish();

    const qsizetype driveCalls = session.drive.requests().size();
    qsizetype tdCalls = 0;
    for (const QJsonValue& request : session.td->requests())
        if (!request.toObject().value(QStringLiteral("@execute")).toBool())
            ++tdCalls;
    auto ms = [](auto d) { return std::chrono::duration<double, std::milli>(d).count(); };
    std::printf("\nEnd-to-end scenario, every back-end call delayed %d ms\n", delayMs);
    std::printf("  longest main-thread stall     %8.1f ms (in %s)\n", ms(probe.longest()),
                qPrintable(probe.where()));
    std::printf("  longest once the window is up %8.1f ms (in %s)\n", ms(probe.longestInUse()),
                qPrintable(probe.whereInUse()));
    for (const auto& [step, longest] : probe.perStep())
        std::printf("    %-52s %8.1f ms\n", qPrintable(step), ms(longest));
    // For the run that repeats this one (repeatedRuns).
    for (const auto& [step, longest] : probe.perStep())
        std::printf("@stall\t%s\t%.3f\n", qPrintable(step), ms(longest));
    std::printf("@total\t%.3f\n@ratio\t%.4f\n", ms(elapsed),
                ms(elapsed) / std::max(1.0, double(driveCalls + tdCalls) * delayMs));
    std::printf("  total time                    %8.0f ms\n", ms(elapsed));
    std::printf("  back-end calls                %8lld (Drive %lld, TDLib %lld)\n",
                static_cast<long long>(driveCalls + tdCalls), static_cast<long long>(driveCalls),
                static_cast<long long>(tdCalls));
    std::printf("  sum of their delays           %8.0f ms\n", double(driveCalls + tdCalls) * delayMs);
    std::printf("  total / sum of delays         %8.2f\n",
                ms(elapsed) / std::max(1.0, double(driveCalls + tdCalls) * delayMs));
    std::fflush(stdout);
    return status;
}

/// Median, lowest and highest of the values.
struct Spread {
    double median = 0, lowest = 0, highest = 0;
    static Spread of(std::vector<double> values) {
        std::sort(values.begin(), values.end());
        Spread spread;
        if (values.empty())
            return spread;
        const size_t n = values.size();
        spread.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
        spread.lowest = values.front();
        spread.highest = values.back();
        return spread;
    }
};

/// Runs the measured scenario TW_E2E_RUNS times, each a process of its own in a Secret Service
/// of its own, and reports the longest stall per step over the runs.
int repeatedRuns(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = qEnvironmentVariableIsSet("TW_E2E_RUNS")
                         ? std::max(1, qEnvironmentVariableIntValue("TW_E2E_RUNS"))
                         : 5;
    constexpr double goalMs = 50.0;
    std::vector<QString> order;
    std::map<QString, std::vector<double>> stalls;
    std::vector<double> totals, ratios;
    int failed = 0;
    for (int run = 1; run <= runs; ++run) {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TW_E2E_RUNS"), QStringLiteral("1"));
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QStringLiteral(TW_SECRET_SERVICE_RUNNER),
                    {QCoreApplication::applicationFilePath()});
        if (!child.waitForFinished(600000)) {
            child.kill();
            child.waitForFinished();
        }
        const QString out = QString::fromUtf8(child.readAllStandardOutput());
        const bool ok = child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
        failed += ok ? 0 : 1;
        double longest = 0;
        for (const QString& line : out.split(QLatin1Char('\n'))) {
            const QStringList fields = line.split(QLatin1Char('\t'));
            if (fields.value(0) == QStringLiteral("@stall") && fields.size() == 3) {
                if (!stalls.count(fields[1]))
                    order.push_back(fields[1]);
                stalls[fields[1]].push_back(fields[2].toDouble());
                longest = std::max(longest, fields[2].toDouble());
            } else if (fields.value(0) == QStringLiteral("@total") && fields.size() == 2) {
                totals.push_back(fields[1].toDouble());
            } else if (fields.value(0) == QStringLiteral("@ratio") && fields.size() == 2) {
                ratios.push_back(fields[1].toDouble());
            }
        }
        std::printf("run %d of %d: %s, longest stall %.1f ms\n", run, runs,
                    ok ? "passed" : "FAILED", longest);
        if (!ok)
            std::printf("%s\n", qPrintable(out));
        std::fflush(stdout);
    }
    std::printf("\nEnd-to-end scenario, every back-end call delayed %d ms, %d runs\n",
                qEnvironmentVariableIntValue("TW_E2E_DELAY_MS") > 0
                    ? qEnvironmentVariableIntValue("TW_E2E_DELAY_MS")
                    : 300,
                runs);
    std::printf("  longest main-thread stall per step (goal: under %.0f ms): median [lowest-highest]\n",
                goalMs);
    int over = 0;
    for (const QString& step : order) {
        const Spread spread = Spread::of(stalls[step]);
        const bool met = spread.median < goalMs;
        over += met ? 0 : 1;
        std::printf("    %-52s %7.1f ms [%6.1f-%6.1f]  %s\n", qPrintable(step), spread.median,
                    spread.lowest, spread.highest, met ? "ok" : "OVER");
    }
    const Spread total = Spread::of(totals), ratio = Spread::of(ratios);
    std::printf("  total time                    %8.0f ms [%.0f-%.0f]\n", total.median, total.lowest,
                total.highest);
    std::printf("  total / sum of delays         %8.2f [%.2f-%.2f]\n", ratio.median, ratio.lowest,
                ratio.highest);
    std::printf("  steps over the goal (median)  %8d\n", over);
    std::fflush(stdout);
    return failed == 0 ? 0 : 1;
}

} // namespace
#endif

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("TDJSON_PATH"))
        qputenv("TDJSON_PATH", TW_FAKE_TDJSON_PATH);
    if (argc > 1 && std::strcmp(argv[1], "--second-start") == 0)
        return secondStart(argc, argv);
#ifdef TW_E2E_BENCH
    if (qEnvironmentVariable("TW_E2E_RUNS") != QStringLiteral("1"))
        return repeatedRuns(argc, argv);
#endif

    // Run inside run-with-secret-service.sh: without a Secret Service the keyring cannot hold
    // the sign-ins. A skip on a desk without one; a failure in CI.
    if (qEnvironmentVariable("TW_SECRET_SERVICE") != QStringLiteral("ready")) {
        std::fprintf(stderr, "no Secret Service: %s\n",
                     qPrintable(qEnvironmentVariable("TW_SECRET_SERVICE_REASON", QStringLiteral("not started"))));
        return qEnvironmentVariable("CI") == QStringLiteral("true") ? 1 : 77;
    }

    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QApplication app(argc, argv);
    setApplicationIdentity(QStringLiteral("0.0.0-e2e"));
    QApplication::setQuitOnLastWindowClosed(false);
    applyColourScheme();
    ::testing::InitGoogleTest(&argc, argv);

    int status = 0;
    {
        Session session;
        sessionPointer() = &session;
        // Every Google endpoint at the fake server: read once, before anything asks for one.
        qputenv(GoogleEndpoints::overrideVariable, session.drive.origin().toString().toUtf8());
        session.drive.setLinksToItself(true);
        session.td = std::make_unique<FakeTdJson>(qEnvironmentVariable("TDJSON_PATH"));
#ifdef TW_E2E_BENCH
        status = runMeasured(session);
#else
        status = RUN_ALL_TESTS();
#endif
        QApplication::closeAllWindows();
        session.app.reset();
        session.browser->join();
        sessionPointer() = nullptr;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    // Workers stuck in a back-end call are never joined, as in the application itself.
    _exit(status);
}
