#include "StorageCore/Persistence/JSONDirectoryStore.h"
#include "StorageCore/Domain/JsonCoding.h"
#include "StorageCore/Persistence/DocumentLoader.h"
#include "StorageCore/Persistence/PrivateTemporaryFolder.h"

#include "tests/support/InMemoryKeyValueStore.h"
#include "tests/support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tw;

namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

class JSONDirectoryStoreTest : public ::testing::Test {
protected:
    QTemporaryDir root;
    QString folder() const { return root.path() + QStringLiteral("/nested/Tessarow"); }
    JSONDirectoryStore& store() { return store_; }
    JSONDirectoryStore store_{root.path() + QStringLiteral("/nested/Tessarow")};
};

TEST_F(JSONDirectoryStoreTest, LoadOfAMissingKeyCreatesNothing) {
    JSONDirectoryStore store(folder());
    EXPECT_EQ(store.load(QStringLiteral("accounts")), std::nullopt);
    EXPECT_FALSE(QFileInfo::exists(root.path() + QStringLiteral("/nested")));
    store.remove(QStringLiteral("accounts")); // nothing to remove is no error
    EXPECT_EQ(store.setAside(QStringLiteral("accounts")), std::nullopt);
}

TEST_F(JSONDirectoryStoreTest, SaveCreatesTheFolderAndWritesSortedIndentedJson) {
    JSONDirectoryStore store(folder());
    const QDateTime date(QDate(2026, 1, 1), QTime(0, 0, 0, 500), QTimeZone::utc());
    const QJsonArray value{
        QJsonObject{{QStringLiteral("zeta"), 1},
                    {QStringLiteral("alpha"),
                     QJsonObject{{QStringLiteral("b"), true}, {QStringLiteral("a"), QJsonValue()}}},
                    {QStringLiteral("date"), json::encodeDate(date)},
                    {QStringLiteral("big"), qint64(9'007'199'254'740'993)}}};
    store.save(value, QStringLiteral("upload-rules"));
    const QString path = folder() + QStringLiteral("/upload-rules.json");
    ASSERT_EQ(store.filePath(QStringLiteral("upload-rules")), path);
    const QByteArray text = readFile(path);
    EXPECT_EQ(text, QByteArray("[\n"
                               "    {\n"
                               "        \"alpha\": {\n"
                               "            \"a\": null,\n"
                               "            \"b\": true\n"
                               "        },\n"
                               "        \"big\": 9007199254740993,\n"
                               "        \"date\": 788918400.5,\n"
                               "        \"zeta\": 1\n"
                               "    }\n"
                               "]\n"));
    const auto loaded = store.load(QStringLiteral("upload-rules"));
    ASSERT_TRUE(loaded.has_value());
    EXPECT_EQ(*loaded, QJsonValue(value));
    EXPECT_EQ(
        json::decodeDate(loaded->toArray().at(0).toObject().value(QLatin1String("date")), "date"),
        date);
    EXPECT_EQ(json::toInt64(loaded->toArray().at(0).toObject().value(QLatin1String("big"))),
              qint64(9'007'199'254'740'993));

    // Saving the same value again gives the same bytes; objects work at the top too.
    store.save(value, QStringLiteral("upload-rules"));
    EXPECT_EQ(readFile(path), text);
    store.save(QJsonObject{{QStringLiteral("byKey"), QJsonObject()}},
               QStringLiteral("upload-history"));
    EXPECT_EQ(store.load(QStringLiteral("upload-history")),
              QJsonValue(QJsonObject{{QStringLiteral("byKey"), QJsonObject()}}));
    EXPECT_THROW(store.save(QJsonValue(3), QStringLiteral("scalar")), StoreError);

    store.remove(QStringLiteral("upload-rules"));
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_EQ(store.load(QStringLiteral("upload-rules")), std::nullopt);
}

TEST_F(JSONDirectoryStoreTest, UnreadableFilesThrowInsteadOfLookingEmpty) {
    JSONDirectoryStore store(folder());
    QDir().mkpath(folder());
    const QByteArray bad[] = {"", "{", "[1,]", "not json", "\"text\"", "42"};
    for (const QByteArray& bytes : bad) {
        writeFile(folder() + QStringLiteral("/activity.json"), bytes);
        EXPECT_THROW(store.load(QStringLiteral("activity")), StoreError) << bytes.constData();
    }
    // A folder where the file should be cannot be read either.
    QDir().mkpath(folder() + QStringLiteral("/dir.json"));
    EXPECT_THROW(store.load(QStringLiteral("dir")), StoreError);
}

TEST_F(JSONDirectoryStoreTest, AFailedWriteLeavesTheOldFile) {
    JSONDirectoryStore store(folder());
    store.save(QJsonArray{1}, QStringLiteral("accounts"));
    const QByteArray before = readFile(store.filePath(QStringLiteral("accounts")));
    // The atomic write needs a temporary file beside the target: a folder that cannot take
    // one (it is a file now) makes the save fail.
    JSONDirectoryStore broken(store.filePath(QStringLiteral("accounts")));
    EXPECT_THROW(broken.save(QJsonArray{2}, QStringLiteral("x")), StoreError);
    EXPECT_EQ(readFile(store.filePath(QStringLiteral("accounts"))), before);
    EXPECT_EQ(QDir(folder()).entryList(QDir::Files), QStringList{QStringLiteral("accounts.json")});
}

TEST_F(JSONDirectoryStoreTest, SetAsideKeepsTheDocumentUnderADatedName) {
    JSONDirectoryStore store(folder());
    QDir().mkpath(folder());
    writeFile(store.filePath(QStringLiteral("accounts")), "{broken");
    const auto first = store.setAside(QStringLiteral("accounts"));
    ASSERT_TRUE(first.has_value());
    EXPECT_TRUE(first->startsWith(QStringLiteral("accounts.json.unreadable-")));
    EXPECT_EQ(readFile(folder() + QLatin1Char('/') + *first), QByteArray("{broken"));
    EXPECT_FALSE(QFileInfo::exists(store.filePath(QStringLiteral("accounts"))));

    // A second one in the same second gets its own name.
    writeFile(store.filePath(QStringLiteral("accounts")), "[oops");
    const auto second = store.setAside(QStringLiteral("accounts"));
    ASSERT_TRUE(second.has_value());
    EXPECT_NE(*second, *first);
    EXPECT_EQ(readFile(folder() + QLatin1Char('/') + *second), QByteArray("[oops"));
}

struct Record {
    QString name;
    bool operator==(const Record&) const = default;
    static Record fromJson(const QJsonObject& o) { return Record{json::requireString(o, "name")}; }
};

QList<Record> decodeRecords(const QJsonValue& value) {
    return decodeObjectArray<Record>(value, &Record::fromJson);
}

TEST_F(JSONDirectoryStoreTest, LoadDocumentSetsUnreadableDocumentsAsideSoASaveCannotOverwriteThem) {
    JSONDirectoryStore store(folder());
    QDir().mkpath(folder());

    // Missing: empty, not failed.
    auto missing =
        loadDocument<QList<Record>>(store, QStringLiteral("upload-history"), decodeRecords);
    EXPECT_FALSE(missing.failed);
    EXPECT_EQ(missing.value, std::nullopt);

    // Good.
    store.save(QJsonArray{QJsonObject{{QStringLiteral("name"), QStringLiteral("a")}}},
               QStringLiteral("upload-history"));
    auto good = loadDocument<QList<Record>>(store, QStringLiteral("upload-history"), decodeRecords);
    EXPECT_FALSE(good.failed);
    EXPECT_EQ(good.value, (QList<Record>{Record{QStringLiteral("a")}}));

    // Not JSON, and JSON of another shape: both set aside; the next save starts a new file.
    const QByteArray bad[] = {"[{\"name\": ", "[{\"name\": 5}]", "{\"name\": \"a\"}", "[1]"};
    for (const QByteArray& bytes : bad) {
        writeFile(store.filePath(QStringLiteral("upload-rules")), bytes);
        auto result =
            loadDocument<QList<Record>>(store, QStringLiteral("upload-rules"), decodeRecords);
        EXPECT_TRUE(result.failed) << bytes.constData();
        EXPECT_EQ(result.value, std::nullopt);
        ASSERT_TRUE(result.setAsideAs.has_value());
        store.save(QJsonArray(), QStringLiteral("upload-rules"));
        EXPECT_EQ(readFile(folder() + QLatin1Char('/') + *result.setAsideAs), bytes);
    }
}

// What stands where a document belongs but is no regular file (a FIFO without a writer, a
// folder, a socket, an endless device) neither blocks nor floods the load: it is unreadable,
// set aside, and the next save writes a new document.
TEST_F(JSONDirectoryStoreTest, ANonRegularFileIsSetAsideWithoutBlocking) {
    QDir().mkpath(folder());
    const QString path = store().filePath(QStringLiteral("accounts"));
    const QByteArray native = QFile::encodeName(path);
    struct Case {
        const char* name;
        std::function<bool()> make;
    };
    const Case cases[] = {
        {"fifo", [&] { return ::mkfifo(native.constData(), 0600) == 0; }},
        {"folder", [&] { return QDir().mkdir(path); }},
        {"socket",
         [&] {
             const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un address{};
             address.sun_family = AF_UNIX;
             if (fd < 0 || size_t(native.size()) >= sizeof(address.sun_path))
                 return false;
             std::memcpy(address.sun_path, native.constData(), size_t(native.size()));
             const bool bound =
                 ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
             ::close(fd);
             return bound;
         }},
        {"device", [&] { return QFile::link(QStringLiteral("/dev/zero"), path); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(c.make());
        const auto result =
            loadDocument<QList<Record>>(store(), QStringLiteral("accounts"), decodeRecords);
        EXPECT_TRUE(result.failed);
        EXPECT_EQ(result.value, std::nullopt);
        ASSERT_TRUE(result.setAsideAs.has_value());
        EXPECT_FALSE(QFileInfo(path).exists() || QFileInfo(path).isSymLink());
        store().save(QJsonArray(), QStringLiteral("accounts"));
        EXPECT_EQ(store().load(QStringLiteral("accounts")), QJsonValue(QJsonArray()));
        QFile::remove(path);
    }
}

TEST(DocumentLoader, ADocumentThatCannotBeSetAsideIsReportedNotThrown) {
    test::InMemoryKeyValueStore store;
    store.put(QStringLiteral("upload-rules"), QJsonArray{7});
    store.setFailSetAside(true);
    const auto result =
        loadDocument<QList<Record>>(store, QStringLiteral("upload-rules"), decodeRecords);
    EXPECT_TRUE(result.failed);
    EXPECT_EQ(result.value, std::nullopt);
    EXPECT_EQ(result.setAsideAs, std::nullopt);
    EXPECT_EQ(store.peek(QStringLiteral("upload-rules")), QJsonValue(QJsonArray{7}));
}

TEST(PrivateTemporaryFolder, IsPrivateAndUnique) {
    const QString a = makePrivateTemporaryFolder(QStringLiteral("Tessarow"));
    const QString b = makePrivateTemporaryFolder(QStringLiteral("Tessarow"));
    EXPECT_NE(a, b);
    for (const QString& path : {a, b}) {
        EXPECT_TRUE(path.startsWith(QDir::tempPath() + QStringLiteral("/Tessarow-")));
        struct stat info {};
        ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &info), 0);
        EXPECT_TRUE(S_ISDIR(info.st_mode));
        EXPECT_EQ(info.st_mode & 0777, 0700u);
        EXPECT_EQ(info.st_uid, ::geteuid());
    }
    JSONDirectoryStore fallback = JSONDirectoryStore::temporaryFallback();
    fallback.save(QJsonArray{1}, QStringLiteral("accounts"));
    EXPECT_EQ(fallback.load(QStringLiteral("accounts")), QJsonValue(QJsonArray{1}));
}

TEST(JSONDirectoryStoreLocation, ApplicationSupportIsTessarowInTheDataFolder) {
    QTemporaryDir home;
    const bool wasSet = qEnvironmentVariableIsSet("XDG_DATA_HOME");
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/data")));
    const JSONDirectoryStore store = JSONDirectoryStore::applicationSupport();
    if (wasSet)
        qputenv("XDG_DATA_HOME", saved);
    else
        qunsetenv("XDG_DATA_HOME");
    EXPECT_EQ(store.directory(), home.path() + QStringLiteral("/data/Tessarow"));
    EXPECT_TRUE(QFileInfo(home.path() + QStringLiteral("/data")).isDir());
    EXPECT_FALSE(QFileInfo::exists(store.directory())); // made by the first save
}

} // namespace

TEST_F(JSONDirectoryStoreTest, DocumentsAreTheOwnersOnly) {
    store().save(QJsonObject{{QStringLiteral("email"), QStringLiteral("a@example.com")}},
                 QStringLiteral("accounts"));
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(folder()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(QFile::encodeName(folder() + QStringLiteral("/accounts.json")).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// A second process saves new versions in a loop while this one loads: every load sees a whole
// document, never "none stored" (which would let its owner start empty and overwrite it).
TEST_F(JSONDirectoryStoreTest, ALoadDuringAnotherProcesssSaveAlwaysFindsTheDocument) {
    store().save(QJsonObject{{QStringLiteral("n"), 0}}, QStringLiteral("accounts"));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        JSONDirectoryStore writer(folder());
        for (int i = 1; i < 3000; ++i)
            writer.save(QJsonObject{{QStringLiteral("n"), i}}, QStringLiteral("accounts"));
        ::_exit(0);
    }
    int missing = 0;
    int loads = 0;
    for (; loads < 20000; ++loads) {
        if (!store().load(QStringLiteral("accounts")))
            ++missing;
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child)
            break;
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(missing, 0) << "of " << loads << " loads";
}
