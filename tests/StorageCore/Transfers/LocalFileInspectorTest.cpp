#include "StorageCore/Transfers/LocalFileInspector.h"

#include "tests/support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tw;
using Code = StorageError::Code;

namespace {

class LocalFileInspectorTest : public ::testing::Test {
protected:
    QUrl makeFile(const QString& name, const QByteArray& content = "content") {
        const QString path = dir.path() + QLatin1Char('/') + name;
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return QUrl::fromLocalFile(path);
    }
    QUrl makeFolder(const QString& name) {
        QDir(dir.path()).mkpath(name);
        return QUrl::fromLocalFile(dir.path() + QLatin1Char('/') + name);
    }
    Code errorOf(const QUrl& url) {
        try {
            LocalFileInspector::inspect(url);
        } catch (const StorageError& error) {
            return error.code();
        }
        ADD_FAILURE() << "accepted " << url.toString().toStdString();
        return Code::server;
    }

    QTemporaryDir dir;
};

TEST_F(LocalFileInspectorTest, DescribesARegularFile) {
    const QUrl url = makeFile(QStringLiteral("Report 2026.pdf"), QByteArray(1234, 'x'));
    const LocalFile file = LocalFileInspector::inspect(url);
    EXPECT_EQ(file.url, url);
    EXPECT_EQ(file.name, QStringLiteral("Report 2026.pdf"));
    EXPECT_EQ(file.sizeBytes, 1234);
    EXPECT_EQ(file.mimeType, QStringLiteral("application/pdf"));
}

TEST_F(LocalFileInspectorTest, MimeTypeComesFromTheExtensionOnly) {
    struct Case {
        const char* name;
        QByteArray content;
        const char* mime;
    };
    const Case cases[] = {
        {"photo.JPG", "not really a jpeg", "image/jpeg"},
        {"notes.txt", "%PDF-1.7", "text/plain"},
        {"data.qqqzzz", "", "application/octet-stream"},
        {"no-extension", "%PDF-1.7 looks like a pdf", "application/octet-stream"},
        {"letter.docx", "PK\x03\x04",
         "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    };
    for (const Case& c : cases) {
        const LocalFile file =
            LocalFileInspector::inspect(makeFile(QString::fromUtf8(c.name), c.content));
        EXPECT_EQ(file.mimeType, QLatin1String(c.mime)) << c.name;
    }
    EXPECT_EQ(LocalFileInspector::inspect(makeFile(QStringLiteral("empty.bin"), "")).sizeBytes, 0);
}

TEST_F(LocalFileInspectorTest, RefusesWhatCannotBeUploaded) {
    EXPECT_EQ(errorOf(makeFolder(QStringLiteral("Folder"))), Code::folderUploadUnsupported);
    EXPECT_EQ(errorOf(QUrl::fromLocalFile(dir.path() + QStringLiteral("/missing.txt"))),
              Code::localFileUnreadable);
    EXPECT_EQ(errorOf(QUrl(QStringLiteral("https://example.com/a.txt"))),
              Code::localFileUnreadable);
    const QString fifo = dir.path() + QStringLiteral("/pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(errorOf(QUrl::fromLocalFile(fifo)), Code::localFileUnreadable);
    const QString dangling = dir.path() + QStringLiteral("/dangling");
    ASSERT_TRUE(QFile::link(dir.path() + QStringLiteral("/nowhere"), dangling));
    EXPECT_EQ(errorOf(QUrl::fromLocalFile(dangling)), Code::localFileUnreadable);
    EXPECT_EQ(errorOf(QUrl::fromLocalFile(QStringLiteral("/dev/null"))), Code::localFileUnreadable);
}

TEST_F(LocalFileInspectorTest, RefusesAFileWithoutReadPermission) {
    const QUrl url = makeFile(QStringLiteral("secret.txt"));
    ASSERT_EQ(::chmod(QFile::encodeName(url.toLocalFile()).constData(), 0), 0);
    if (::geteuid() != 0) {
        EXPECT_EQ(errorOf(url), Code::localFileUnreadable);
        return;
    }
    // As root every file is readable: check as an unprivileged user in a child process.
    ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        try {
            LocalFileInspector::inspect(url);
            ::_exit(1);
        } catch (const StorageError& error) {
            ::_exit(error.code() == Code::localFileUnreadable ? 0 : 2);
        }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(LocalFileInspectorTest, InspectAllKeepsTheOrderOfBothLists) {
    const QUrl first = makeFile(QStringLiteral("a.txt"));
    const QUrl folder = makeFolder(QStringLiteral("b"));
    const QUrl third = makeFile(QStringLiteral("c.png"));
    const QUrl missing = QUrl::fromLocalFile(dir.path() + QStringLiteral("/d"));
    const auto result = LocalFileInspector::inspectAll({first, folder, third, missing});
    ASSERT_EQ(result.files.size(), 2);
    EXPECT_EQ(result.files[0].url, first);
    EXPECT_EQ(result.files[1].url, third);
    ASSERT_EQ(result.rejected.size(), 2);
    EXPECT_EQ(result.rejected[0].first, folder);
    EXPECT_EQ(result.rejected[0].second.code(), Code::folderUploadUnsupported);
    EXPECT_EQ(result.rejected[1].first, missing);
    EXPECT_EQ(result.rejected[1].second.code(), Code::localFileUnreadable);

    const auto empty = LocalFileInspector::inspectAll({});
    EXPECT_TRUE(empty.files.isEmpty());
    EXPECT_TRUE(empty.rejected.isEmpty());
}

} // namespace
