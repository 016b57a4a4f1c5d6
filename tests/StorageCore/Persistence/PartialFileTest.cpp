// Partial files beside their destinations, and the start-up clean-up of what a killed process
// left: partial downloads in the user's folders and temporaries of document saves.
#include "StorageCore/Persistence/PartialFile.h"
#include "StorageCore/Domain/StorageError.h"
#include "StorageCore/Persistence/JSONDirectoryStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using namespace tw;

namespace {

const char* folderVariable = "TW_LEFTOVER_TEST_FOLDER";
const char* journalVariable = "TW_LEFTOVER_TEST_JOURNAL";

/// Our partial files in the folder (by the exact naming, not the user's look-alikes).
QStringList partialsIn(const QString& folder) {
    QStringList ours;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        if (PartialFile::isPartialName(name))
            ours.append(name);
    return ours;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

/// Runs one of the child tests below in a process of its own, waits until `started` holds,
/// then kills it with SIGKILL. True when the child was seen started and died by the signal.
bool killChildOnceStarted(const QString& test, const QString& folder, const QString& journal,
                          const std::function<bool()>& started) {
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(folderVariable, folder);
    environment.insert(journalVariable, journal);
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_also_run_disabled_tests"),
                 QStringLiteral("--gtest_filter=") + test});
    if (!child.waitForStarted())
        return false;
    const bool seen = QTest::qWaitFor(started, 30000);
    ::kill(pid_t(child.processId()), SIGKILL);
    child.waitForFinished(30000);
    return seen && child.exitStatus() == QProcess::CrashExit;
}

} // namespace

TEST(PartialFile, ACommitRenamesInPlaceWithTheUsualMode) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString destination = dir.filePath(QStringLiteral("report.pdf"));
    writeFile(destination, "old");

    const mode_t previousMask = ::umask(027);
    struct stat staged {};
    {
        PartialFile file(destination);
        const QFileInfo info(file.path());
        EXPECT_TRUE(PartialFile::isPartialName(info.fileName())) << info.fileName().toStdString();
        EXPECT_EQ(info.absolutePath(), QFileInfo(dir.path()).absoluteFilePath());
        ASSERT_EQ(::stat(QFile::encodeName(file.path()).constData(), &staged), 0);
        EXPECT_EQ(staged.st_mode & 0777, 0600u) << "private while partial";
        ASSERT_TRUE(file.write("new bytes", 9));
        EXPECT_EQ(readAll(destination), "old") << "the destination stays whole until the end";
        EXPECT_TRUE(file.commit());
    }
    ::umask(previousMask);
    struct stat finished {};
    ASSERT_EQ(::stat(QFile::encodeName(destination).constData(), &finished), 0);
    EXPECT_EQ(finished.st_mode & 0777, 0640u) << "0666 less the umask";
    // Renamed, not copied: the very file that was written.
    EXPECT_EQ(finished.st_ino, staged.st_ino);
    EXPECT_EQ(finished.st_dev, staged.st_dev);
    EXPECT_EQ(readAll(destination), "new bytes");
    EXPECT_TRUE(partialsIn(dir.path()).isEmpty());

    // Not committed: nothing stays behind and the destination is untouched.
    {
        PartialFile file(destination);
        file.write("x", 1);
    }
    EXPECT_TRUE(partialsIn(dir.path()).isEmpty());
    EXPECT_EQ(readAll(destination), "new bytes");
    EXPECT_THROW(PartialFile{dir.filePath(QStringLiteral("no/such/folder/x"))}, StorageError);
}

TEST(PartialFile, OurNamesOnly) {
    EXPECT_TRUE(PartialFile::isPartialName(".kelvanor-0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0.part"));
    for (const char* name :
         {"kelvanor-0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0.part",
          ".kelvanor-0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0.part", ".kelvanor-notes.part",
          ".0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0.part", "movie.mkv.part",
          ".kelvanor-0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0.part.txt"})
        EXPECT_FALSE(PartialFile::isPartialName(name)) << name;
}

TEST(PartialFile, WhatAKilledDownloadLeftGoesAtTheNextStartAndNothingElse) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString downloads = dir.filePath(QStringLiteral("Downloads"));
    const QString journal = dir.filePath(QStringLiteral("data/partial-folders"));
    ASSERT_TRUE(QDir().mkpath(downloads));
    // The user's own files, some with names close to ours.
    const QStringList users = {".kelvanor-notes.part", "movie.mkv.part", ".hidden", "photo.jpg"};
    for (const QString& name : users)
        writeFile(downloads + "/" + name, "mine");

    ASSERT_TRUE(killChildOnceStarted(QStringLiteral("PartialFileChild.DISABLED_DownloadsForever"),
                                     downloads, journal,
                                     [&] { return !partialsIn(downloads).isEmpty(); }));
    ASSERT_EQ(partialsIn(downloads).size(), 1) << "the killed download's partial file";

    // A download of this process is still running: its file is held and stays.
    PartialFile::setJournalPath(journal);
    PartialFile running(downloads + QStringLiteral("/running.iso"));
    EXPECT_EQ(PartialFile::removeLeftovers(), 1);
    EXPECT_EQ(partialsIn(downloads), QStringList{QFileInfo(running.path()).fileName()});
    for (const QString& name : users)
        EXPECT_EQ(readAll(downloads + "/" + name), "mine") << name.toStdString();
    running.discard();
    EXPECT_EQ(PartialFile::removeLeftovers(), 0);
    PartialFile::setJournalPath(QString());
}

TEST(JSONDirectoryStoreLeftovers, ASaveKilledMidWriteLeavesATemporaryThatTheNextStartRemoves) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.filePath(QStringLiteral("Tessarow"));
    JSONDirectoryStore store(folder);
    store.save(QJsonObject{{"kept", true}}, QStringLiteral("accounts"));
    const QStringList others = {"accounts.json.unreadable-20260101T000000Z", "notes.json.bak",
                                "notes.txt.ABCDEF", ".kelvanor-notes.part"};
    for (const QString& name : others)
        writeFile(folder + "/" + name, "other");

    // A kill can land between two saves; try until one lands inside a write.
    bool left = false;
    for (int attempt = 0; attempt < 20 && !left; ++attempt) {
        ASSERT_TRUE(killChildOnceStarted(QStringLiteral("PartialFileChild.DISABLED_SavesForever"),
                                         folder, QString(),
                                         [&] { return !partialsIn(folder).isEmpty(); }));
        left = !partialsIn(folder).isEmpty();
    }
    ASSERT_TRUE(left) << "no kill landed inside a save";

    // A save's temporary of QSaveFile's naming, left where the file system has no unnamed
    // temporary files, goes too.
    writeFile(folder + "/accounts.json.aB3dE9", "half");
    EXPECT_EQ(store.removeLeftovers(), 2);
    EXPECT_FALSE(QFileInfo::exists(folder + "/accounts.json.aB3dE9"));
    EXPECT_TRUE(partialsIn(folder).isEmpty());
    EXPECT_TRUE(store.load(QStringLiteral("accounts")).has_value()) << "the document is whole";
    for (const QString& name : others)
        EXPECT_EQ(readAll(folder + "/" + name), "other") << name.toStdString();
}

// The children, killed by the tests above.
TEST(PartialFileChild, DISABLED_DownloadsForever) {
    PartialFile::setJournalPath(qEnvironmentVariable(journalVariable));
    PartialFile file(qEnvironmentVariable(folderVariable) + QStringLiteral("/big.iso"));
    const QByteArray chunk(1 << 20, 'x');
    ASSERT_TRUE(file.write(chunk.constData(), chunk.size()));
    for (;;)
        ::pause();
}

TEST(PartialFileChild, DISABLED_SavesForever) {
    JSONDirectoryStore store(qEnvironmentVariable(folderVariable));
    QJsonArray big;
    for (int i = 0; i < 200000; ++i)
        big.append(QJsonObject{{"id", i}, {"name", QStringLiteral("account %1").arg(i)}});
    for (;;)
        store.save(big, QStringLiteral("accounts"));
}
