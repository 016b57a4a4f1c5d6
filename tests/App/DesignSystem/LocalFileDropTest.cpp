// How drop targets take local files: only local files, only as a copy, never a drag that can
// only move them; the smart upload pane takes its drops by the same rule.
#include "App/DesignSystem/LocalFileDrop.h"
#include "App/Uploads/SmartUploadView.h"
#include "tests/App/Model/AppModelFixture.h"

#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>

using namespace tw;
using namespace tw::test;

TEST(LocalFileDrop, TakesOnlyLocalFilesAndOnlyAsACopy) {
    const QUrl local = QUrl::fromLocalFile(QStringLiteral("/tmp/a.pdf"));
    const QUrl remote(QStringLiteral("https://example.com/b.pdf"));
    struct Case {
        const char* what;
        QList<QUrl> urls;
        Qt::DropActions offered;
        bool allowed;
        QList<QUrl> taken;
    };
    const Case cases[] = {
        {"local files, copy or move", {local}, Qt::CopyAction | Qt::MoveAction, true, {local}},
        {"local and remote", {remote, local}, Qt::CopyAction, true, {local}},
        {"remote only", {remote}, Qt::CopyAction, true, {}},
        {"no URLs", {}, Qt::CopyAction, true, {}},
        {"move only", {local}, Qt::MoveAction, true, {}},
        {"not allowed here", {local}, Qt::CopyAction, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QMimeData data;
        if (!c.urls.isEmpty())
            data.setUrls(c.urls);
        else
            data.setText(QStringLiteral("plain text"));
        QDragEnterEvent enter(QPoint(5, 5), c.offered, &data, Qt::LeftButton, {});
        EXPECT_EQ(LocalFileDrop::accept(&enter, c.allowed), c.taken);
        EXPECT_EQ(enter.isAccepted(), !c.taken.isEmpty());
        QDropEvent drop(QPointF(5, 5), c.offered, &data, Qt::LeftButton, {});
        EXPECT_EQ(LocalFileDrop::accept(&drop, c.allowed), c.taken);
        EXPECT_EQ(drop.isAccepted(), !c.taken.isEmpty());
        if (drop.isAccepted()) {
            EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
        }
    }
}

namespace {

class SmartUploadDropTest : public AppModelFixture {};

} // namespace

TEST_F(SmartUploadDropTest, ADragThatCanOnlyMoveIsRefusedAndACopyIsTaken) {
    storeAccounts({storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"))});
    AppModel& app = build();
    SmartUploadView pane(app);
    pane.resize(600, 500);
    pane.show();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile file(dir.filePath(QStringLiteral("a.pdf")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("pdf");
    file.close();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(file.fileName())});

    QDragEnterEvent moveOnly(QPoint(50, 50), Qt::MoveAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&pane, &moveOnly);
    EXPECT_FALSE(moveOnly.isAccepted());
    QDropEvent moved(QPointF(50, 50), Qt::MoveAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&pane, &moved);
    EXPECT_FALSE(moved.isAccepted());
    EXPECT_TRUE(app.smartBatch().isEmpty());

    const Qt::DropActions either = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(QPoint(50, 50), either, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&pane, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent copied(QPointF(50, 50), either, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&pane, &copied);
    EXPECT_TRUE(copied.isAccepted());
    EXPECT_EQ(copied.dropAction(), Qt::CopyAction);
    EXPECT_EQ(app.smartBatch().size(), 1);
}
