// The desktop's applications through GIO, under a private XDG_DATA_DIRS holding one test
// desktop entry whose command writes the file it was given to a marker file.
#include "App/Model/ApplicationLauncher.h"
#include "App/Model/QtPanels.h"
#include "StorageCore/Domain/FileModel.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QThread>

#include <condition_variable>
#include <mutex>

#include <gtest/gtest.h>

using namespace tw;

namespace {

/// Runs the rest of the test under a private application registry (GIO reads the variables
/// when it first looks applications up, so each case re-runs in a fresh process).
class DesktopApplicationLauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        const QString apps = dir.filePath(QStringLiteral("share/applications"));
        ASSERT_TRUE(QDir().mkpath(apps));
        marker = dir.filePath(QStringLiteral("opened.txt"));
        const QString script = dir.filePath(QStringLiteral("open.sh"));
        QFile run(script);
        ASSERT_TRUE(run.open(QIODevice::WriteOnly));
        run.write(QStringLiteral("#!/bin/sh\nprintf '%s' \"$1\" > '%1'\n").arg(marker).toUtf8());
        run.close();
        run.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile entry(apps + QStringLiteral("/org.example.Viewer.desktop"));
        ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
        entry.write(QStringLiteral("[Desktop Entry]\nType=Application\nName=Example Viewer\n"
                                   "Exec=%1 %f\nMimeType=application/x-tessarow-test;\n")
                        .arg(script)
                        .toUtf8());
        entry.close();
        qputenv("XDG_DATA_DIRS", dir.filePath(QStringLiteral("share")).toUtf8());
        qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("home")).toUtf8());
    }
    QTemporaryDir dir;
    QString marker;
};

TEST_F(DesktopApplicationLauncherTest, ListsTheEntryForItsTypeAndOpensAFileWithIt) {
    DesktopApplicationLauncher launcher;
    const QList<ApplicationInfo> recommended = launcher.recommended(QStringLiteral("application/x-tessarow-test"));
    ASSERT_EQ(recommended.size(), 1);
    EXPECT_EQ(recommended.first().id, QStringLiteral("org.example.Viewer.desktop"));
    EXPECT_EQ(recommended.first().name, QStringLiteral("Example Viewer"));
    EXPECT_TRUE(launcher.all().contains(recommended.first()));

    const QString file = dir.filePath(QStringLiteral("report with space.txt"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    launcher.launch(recommended.first().id, QUrl::fromLocalFile(file));
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(marker) && QFileInfo(marker).size() > 0; }, 5000));
    QFile opened(marker);
    ASSERT_TRUE(opened.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(opened.readAll()), file);

    EXPECT_THROW(launcher.launch(QStringLiteral("org.example.Missing.desktop"), QUrl::fromLocalFile(file)),
                 LaunchError);
}

} // namespace

namespace {

/// A registry whose lists wait until the test opens the gate (at most 20 s), and that tells on
/// which thread it was asked.
class GatedLauncher : public ApplicationLauncher {
public:
    explicit GatedLauncher(QList<ApplicationInfo> recommended) : recommended_(std::move(recommended)) {}
    QList<ApplicationInfo> recommended(const QString&) const override {
        wait();
        return recommended_;
    }
    QList<ApplicationInfo> all() const override {
        wait();
        return {{QStringLiteral("org.example.Editor.desktop"), QStringLiteral("Editor"), {}},
                {QStringLiteral("org.example.Viewer.desktop"), QStringLiteral("Viewer"), {}}};
    }
    void launch(const QString&, const QUrl&) override {}
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        cv_.notify_all();
    }
    Qt::HANDLE askedOn() const {
        std::lock_guard lock(mutex_);
        return askedOn_;
    }

private:
    void wait() const {
        std::unique_lock lock(mutex_);
        askedOn_ = QThread::currentThreadId();
        cv_.wait_for(lock, std::chrono::seconds(20), [this] { return open_; });
    }
    QList<ApplicationInfo> recommended_;
    mutable std::mutex mutex_;
    mutable std::condition_variable cv_;
    mutable Qt::HANDLE askedOn_ = nullptr;
    bool open_ = false;
};

QDialog* openWithDialog() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == QLatin1String("openWithDialog") && widget->isVisible())
            return qobject_cast<QDialog*>(widget);
    return nullptr;
}

} // namespace

// The chooser is up at once; the registry (GIO's first load, every desktop entry) is read on a
// worker, and the list fills when it answers.
TEST(ApplicationChooser, ReadsTheRegistryOnAWorkerWhileTheDialogWaits) {
    auto launcher = std::make_shared<GatedLauncher>(QList<ApplicationInfo>{
        {QStringLiteral("org.example.Viewer.desktop"), QStringLiteral("Viewer"), {}}});
    QtPanels panels(launcher);
    FileItem item;
    item.name = QStringLiteral("notes.txt");
    item.mimeType = QStringLiteral("text/plain");
    QString chosen;
    panels.chooseApplication(item, QStringLiteral("Choose an application"),
                             [&](const QString& id) { chosen = id; });
    QDialog* dialog = openWithDialog();
    ASSERT_TRUE(dialog);
    auto* list = dialog->findChild<QListWidget*>(QStringLiteral("openWithList"));
    auto* open = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open);
    auto* busy = dialog->findChild<QWidget*>(QStringLiteral("openWithBusy"));
    EXPECT_EQ(list->count(), 0);
    EXPECT_FALSE(list->isEnabled());
    EXPECT_FALSE(open->isEnabled());
    EXPECT_TRUE(busy->isVisible());

    launcher->open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->count() == 1; }, 20'000));
    EXPECT_NE(launcher->askedOn(), QThread::currentThreadId());
    EXPECT_FALSE(busy->isVisible());
    EXPECT_TRUE(open->isEnabled());
    open->click();
    EXPECT_EQ(chosen, QStringLiteral("org.example.Viewer.desktop"));
}

// Nothing registered for the type: every application is offered instead.
TEST(ApplicationChooser, OffersEveryApplicationWhenNoneIsRegisteredForTheType) {
    auto launcher = std::make_shared<GatedLauncher>(QList<ApplicationInfo>{});
    launcher->open();
    QtPanels panels(launcher);
    FileItem item;
    item.name = QStringLiteral("data.bin");
    item.mimeType = QStringLiteral("application/octet-stream");
    panels.chooseApplication(item, QStringLiteral("Choose an application"), [](const QString&) {});
    QDialog* dialog = openWithDialog();
    ASSERT_TRUE(dialog);
    auto* list = dialog->findChild<QListWidget*>(QStringLiteral("openWithList"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->count() == 2; }, 20'000));
    EXPECT_TRUE(dialog->findChild<QCheckBox*>(QStringLiteral("openWithShowAll"))->isChecked());
    dialog->reject();
}
