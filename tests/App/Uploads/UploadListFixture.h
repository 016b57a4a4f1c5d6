// A model with one Drive account and a folder of local files, for the upload lists' screens.
#pragma once

#include "tests/App/Model/AppModelFixture.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>

namespace tw::test {

class UploadListFixture : public AppModelFixture {
protected:
    void SetUp() override {
        AppModelFixture::SetUp();
        ASSERT_TRUE(files.isValid());
        work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
        storeAccounts({work});
    }
    void TearDown() override {
        // No menu may stay open past a test.
        while (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
        AppModelFixture::TearDown();
    }
    /// A local file of `size` bytes in the fixture's folder.
    QUrl file(const QString& name, qint64 size = 10) {
        QFile f(files.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        EXPECT_TRUE(f.resize(size));
        return QUrl::fromLocalFile(files.filePath(name));
    }

    QTemporaryDir files;
    StorageAccount work;
};

} // namespace tw::test
