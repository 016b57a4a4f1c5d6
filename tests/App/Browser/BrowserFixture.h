// The storage browser over the real application model: accounts of both services, a quick-look
// panel that records what it is asked, and builders for folders of mixed files.
#pragma once

#include "App/Browser/FolderContentView.h"
#include "App/Browser/FolderTableModel.h"
#include "App/Browser/FolderTableView.h"
#include "App/Browser/StorageBrowserPane.h"
#include "App/Preview/QuickLook.h"
#include "StorageCore/Files/FolderListing.h"
#include "tests/App/Model/AppModelFixture.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include "tests/App/Preview/RecordingQuickLook.h"

#include <QFile>
#include <QMimeData>

namespace tw::test {

inline FileItem typedItem(const QUuid& account, const QString& id, const QString& name,
                          const QString& mimeType, const std::optional<QString>& parent = {},
                          qint64 size = 1000) {
    FileItem item = fileItem(account, id, name, parent, 3);
    item.mimeType = mimeType;
    item.sizeBytes = size;
    return item;
}

class BrowserFixture : public AppModelFixture {
protected:
    void SetUp() override {
        AppModelFixture::SetUp();
        ASSERT_TRUE(files.isValid());
        work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
        phone = storedAccount(ProviderKind::telegram, QStringLiteral("Phone"), 2);
    }
    void TearDown() override {
        pane.reset();
        AppModelFixture::TearDown();
    }

    /// Builds the model over the stored accounts.
    AppModel& start(const QList<StorageAccount>& accounts) {
        storeAccounts(accounts);
        return build();
    }

    StorageBrowserPane& showPane(const StorageAccount& account, QSize size = QSize(900, 600)) {
        pane = std::make_unique<StorageBrowserPane>(
            *model, account.id, quickLook,
            [this](const PreviewTarget& target) { previews.append(target); });
        pane->resize(size);
        pane->show();
        return *pane;
    }

    /// Waits until the shown folder's listing has loaded its first page and background paging.
    void waitLoaded() {
        // The pane may replace its table (and the model its listing) meanwhile: look again
        // each time.
        waitFor([&] {
            FolderListing* listing = pane->content() ? pane->content()->listing() : nullptr;
            return listing && listing->phase().kind != FolderListing::Phase::Kind::loading &&
                   listing->phase().kind != FolderListing::Phase::Kind::idle &&
                   !listing->isLoadingMore();
        });
        QCoreApplication::processEvents();
    }

    QUrl localFile(const QString& name, qint64 size = 10) {
        QFile f(files.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        EXPECT_TRUE(f.resize(size));
        return QUrl::fromLocalFile(files.filePath(name));
    }

    /// Drops urls on widget at pos with a synthesised drag enter, move and drop.
    static bool drop(QWidget* widget, QPoint pos, const QList<QUrl>& urls) {
        QMimeData data;
        data.setUrls(urls);
        QDragEnterEvent enter(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &enter);
        QDragMoveEvent move(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &move);
        QDropEvent dropEvent(QPointF(pos), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &dropEvent);
        return dropEvent.isAccepted();
    }

    /// Where row's name cell is, in the table viewport's coordinates.
    QPoint rowPoint(int row) const {
        FolderTableView* table = pane->content()->table();
        return table->visualRect(table->model()->index(row, 0)).center();
    }

    template <typename T> static T* child(QWidget* parent, const QString& name) {
        T* found = parent->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    }

    QTemporaryDir files;
    StorageAccount work;
    StorageAccount phone;
    RecordingQuickLook quickLook;
    QList<PreviewTarget> previews;
    std::unique_ptr<StorageBrowserPane> pane;
};

} // namespace tw::test
