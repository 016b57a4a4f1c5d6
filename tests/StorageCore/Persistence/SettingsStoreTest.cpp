// Preferences read from memory and written by a worker: reads of changes not yet written, the
// order of changes, the thread that syncs the file, an existing file read as it was, and the
// wait at quit.
#include "StorageCore/Persistence/SettingsStore.h"

#include "StorageCore/Concurrency/Completion.h"
#include "StorageCore/Concurrency/TaskRunner.h"
#include "StorageCore/Persistence/BackgroundWriter.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <mutex>
#include <utility>

using namespace tw;
using namespace std::chrono_literals;

namespace {

/// The threads that asked the kernel to sync a file (QSaveFile::commit does, when QSettings
/// saves).
struct Syncs {
    std::mutex mutex;
    QList<Qt::HANDLE> threads;

    void record() {
        std::lock_guard lock(mutex);
        threads.append(QThread::currentThreadId());
    }
    QList<Qt::HANDLE> take() {
        std::lock_guard lock(mutex);
        return std::exchange(threads, {});
    }
};

Syncs& syncs() {
    static Syncs* instance = new Syncs;
    return *instance;
}

template <typename Function> Function next(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

} // namespace

// Seen before the C library's: every sync of the process is recorded, then done.
extern "C" int fsync(int fd) {
    syncs().record();
    static const auto real = next<int (*)(int)>("fsync");
    return real(fd);
}

extern "C" int fdatasync(int fd) {
    syncs().record();
    static const auto real = next<int (*)(int)>("fdatasync");
    return real(fd);
}

namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        fileName = folder.filePath(QStringLiteral("Kelvanor.conf"));
    }

    /// The file as it is on disk.
    QByteArray onDisk() const {
        QFile file(fileName);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir folder;
    QString fileName;
};

TEST_F(SettingsStoreTest, ChangesReadBackAtOnceAndReachTheFileInOrderFromAWorker) {
    // What an earlier version left, in QSettings's own format.
    {
        QFile file(fileName);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[General]\nhasCompletedOnboarding=true\nkeychainVaultMigrated=true\n"
                   "frame=@ByteArray(\\x1\\x2)\n");
    }
    SettingsStore store(fileName, QSettings::IniFormat);
    EXPECT_TRUE(store.value(QStringLiteral("hasCompletedOnboarding")).toBool());
    EXPECT_EQ(store.value(QStringLiteral("frame")).toByteArray(), QByteArray("\x01\x02"));
    EXPECT_EQ(store.value(QStringLiteral("missing"), 7).toInt(), 7);
    syncs().take();

    for (int n = 1; n <= 50; ++n)
        store.setValue(QStringLiteral("count"), n);
    store.setValue(QStringLiteral("hasCompletedOnboarding"), false);
    store.remove(QStringLiteral("keychainVaultMigrated"));
    store.setValue(QStringLiteral("frame"), QByteArray("\x03\x04\x05"));
    // Set, removed, set again / removed again: only the last change may stand.
    store.setValue(QStringLiteral("back"), 1);
    store.remove(QStringLiteral("back"));
    store.setValue(QStringLiteral("back"), 2);
    store.setValue(QStringLiteral("gone"), 1);
    store.remove(QStringLiteral("gone"));

    // Every read answers the last change, written or not.
    EXPECT_EQ(store.value(QStringLiteral("count")).toInt(), 50);
    EXPECT_FALSE(store.value(QStringLiteral("hasCompletedOnboarding")).toBool());
    EXPECT_FALSE(store.contains(QStringLiteral("keychainVaultMigrated")));
    EXPECT_EQ(store.value(QStringLiteral("back")).toInt(), 2);
    EXPECT_FALSE(store.contains(QStringLiteral("gone")));

    // A change made on a worker (the keyring migration's flag) reads back here at once.
    Completion<std::monostate> set;
    runDetached([&store, set]() mutable {
        store.setValue(QStringLiteral("fromWorker"), true);
        set.resolve(std::monostate{});
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return set.isDone(); }, 20'000));
    EXPECT_TRUE(store.value(QStringLiteral("fromWorker")).toBool());

    // The main thread's event loop runs meanwhile: this is where Qt would save a QSettings
    // object changed here.
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    ASSERT_TRUE(store.flush(std::chrono::steady_clock::now() + 20s));

    const QList<Qt::HANDLE> synced = syncs().take();
    EXPECT_FALSE(synced.isEmpty()); // the file was synced...
    for (Qt::HANDLE thread : synced)
        EXPECT_NE(thread, QThread::currentThreadId()); // ...never by this thread

    const QByteArray text = onDisk();
    EXPECT_TRUE(text.contains("count=50")) << text.constData();
    EXPECT_TRUE(text.contains("back=2")) << text.constData();
    EXPECT_FALSE(text.contains("gone")) << text.constData();
    EXPECT_FALSE(text.contains("keychainVaultMigrated")) << text.constData();

    // A later start reads the same values through QSettings.
    const QSettings reread(fileName, QSettings::IniFormat);
    EXPECT_EQ(reread.value(QStringLiteral("count")).toInt(), 50);
    EXPECT_FALSE(reread.value(QStringLiteral("hasCompletedOnboarding")).toBool());
    EXPECT_EQ(reread.value(QStringLiteral("frame")).toByteArray(), QByteArray("\x03\x04\x05"));
    EXPECT_TRUE(reread.value(QStringLiteral("fromWorker")).toBool());
    EXPECT_EQ(reread.value(QStringLiteral("back")).toInt(), 2);
    EXPECT_FALSE(reread.contains(QStringLiteral("gone")));
}

TEST_F(SettingsStoreTest, TheWaitAtQuitAndTheDestructorLeaveEveryChangeOnDisk) {
    SettingsStore first(fileName, QSettings::IniFormat);
    auto second = std::make_unique<SettingsStore>(folder.filePath(QStringLiteral("other.conf")),
                                                  QSettings::IniFormat);
    for (int n = 1; n <= 200; ++n) {
        first.setValue(QStringLiteral("group/key%1").arg(n), n);
        second->setValue(QStringLiteral("value"), n);
    }

    // flushAll, as the quit protocol calls it on a worker: every store is written when it
    // returns.
    Completion<bool> flushed;
    runDetached([flushed]() mutable {
        flushed.resolve(BackgroundWriter::flushAll(std::chrono::steady_clock::now() + 20s));
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return flushed.isDone(); }, 20'000));
    EXPECT_TRUE(flushed.wait());
    EXPECT_TRUE(onDisk().contains("key200=200"));
    EXPECT_TRUE(first.flush(std::chrono::steady_clock::now()));

    // The destructor waits too.
    second->setValue(QStringLiteral("value"), 201);
    second.reset();
    EXPECT_EQ(QSettings(folder.filePath(QStringLiteral("other.conf")), QSettings::IniFormat)
                  .value(QStringLiteral("value"))
                  .toInt(),
              201);
}

} // namespace
