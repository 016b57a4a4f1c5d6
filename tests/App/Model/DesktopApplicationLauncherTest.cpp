// The desktop's applications through GIO, under a private XDG_DATA_DIRS holding one test
// desktop entry whose command writes the file it was given to a marker file.
#include "App/Model/ApplicationLauncher.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

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
