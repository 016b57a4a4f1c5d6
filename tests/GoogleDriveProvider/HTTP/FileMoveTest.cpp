// Moving a finished download into place, within and across file systems.
#include "GoogleDriveProvider/HTTP/FileMove.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace tw;

namespace {

void write(const QString& path, const QByteArray& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

dev_t deviceOf(const QString& path) {
    struct stat info {};
    return ::stat(path.toLocal8Bit().constData(), &info) == 0 ? info.st_dev : dev_t(0);
}

TEST(FileMove, ReplacesTheDestinationWithinOneFileSystem) {
    QTemporaryDir directory;
    const QString source = directory.filePath(QStringLiteral("A1B2"));
    const QString destination = directory.filePath(QStringLiteral("report.pdf"));
    write(source, "new content");
    write(destination, "old content that is longer");

    EXPECT_TRUE(moveFileReplacing(source, destination));
    EXPECT_EQ(read(destination), QByteArray("new content"));
    EXPECT_FALSE(QFile::exists(source));

    // A destination that cannot be written leaves the source where it was.
    write(source, "again");
    EXPECT_FALSE(moveFileReplacing(source, directory.filePath(QStringLiteral("missing/x.pdf"))));
    EXPECT_EQ(read(source), QByteArray("again"));
}

TEST(FileMove, CopiesAndRenamesAcrossFileSystems) {
    QTemporaryDir target;
    // /dev/shm is a separate in-memory file system on Linux; without one there is nothing to
    // cross.
    if (!QDir(QStringLiteral("/dev/shm")).exists() ||
        deviceOf(QStringLiteral("/dev/shm")) == deviceOf(target.path()))
        GTEST_SKIP() << "no second file system beside the temporary folder";
    QTemporaryDir origin(QStringLiteral("/dev/shm/tw-filemove-XXXXXX"));
    ASSERT_TRUE(origin.isValid());

    QByteArray content(3 * 1024 * 1024 + 11, Qt::Uninitialized);
    for (qsizetype i = 0; i < content.size(); ++i)
        content[i] = char(i * 31 % 251);
    const QString source = origin.filePath(QStringLiteral("DOWNLOAD"));
    write(source, content);
    ASSERT_EQ(::chmod(source.toLocal8Bit().constData(), 0600), 0);
    const QString destination = target.filePath(QStringLiteral("movie.bin"));
    write(destination, "previous");

    EXPECT_TRUE(moveFileReplacing(source, destination));
    EXPECT_EQ(read(destination), content);
    EXPECT_FALSE(QFile::exists(source));
    struct stat info {};
    ASSERT_EQ(::stat(destination.toLocal8Bit().constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    // Nothing half-written stays beside the destination.
    EXPECT_EQ(QDir(target.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList({QStringLiteral("movie.bin")}));
}

} // namespace
