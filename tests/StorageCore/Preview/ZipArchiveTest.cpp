// The ZIP reader against archives made by real tools (Debian's zip, Python's zipfile) and
// hand-patched hostile ones, always through a ranged read function that logs its ranges.
#include "StorageCore/Preview/ZipArchive.h"

#include "StorageCore/Domain/StorageError.h"
#include "tests/support/ZipBuilder.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <functional>
#include <optional>
#include <random>

using namespace tw;
using Code = ZipError::Code;

namespace {

QByteArray fileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray pattern(qsizetype n) {
    QByteArray bytes(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i)
        bytes[i] = char((i * 13 + i / 97) & 0xFF);
    return bytes;
}

/// An archive in memory served through a logging ranged read.
struct Served {
    QByteArray bytes;
    QList<ByteRange> reads;
    /// When set, every answer is cut to at most this many bytes (a short read).
    std::optional<qint64> cap;

    ZipReadFunction read() {
        return [this](ByteRange range) {
            reads.append(range);
            QByteArray answer = bytes.mid(range.lower, range.length());
            if (cap)
                answer.truncate(*cap);
            return answer;
        };
    }
    QList<ZipEntry> entries() { return ZipArchiveReader::entries(bytes.size(), read()).toList(); }
    QByteArray extract(const ZipEntry& entry) { return ZipArchiveReader::extract(entry, read()); }
};

template <typename F> std::optional<Code> zipErrorOf(F&& f) {
    try {
        f();
    } catch (const ZipError& error) {
        return error.code();
    }
    return std::nullopt;
}

void put16(QByteArray& b, qsizetype at, quint16 v) {
    b[at] = char(v & 0xFF);
    b[at + 1] = char(v >> 8);
}
void put32(QByteArray& b, qsizetype at, quint32 v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = char((v >> (8 * i)) & 0xFF);
}
/// Offset of the index-th central-directory header.
qsizetype centralHeader(const QByteArray& b, int index) {
    qsizetype at = -1;
    for (int i = 0; i <= index; ++i)
        at = b.indexOf(QByteArray("PK\x01\x02", 4), at + 1);
    return at;
}
qsizetype endRecord(const QByteArray& b) {
    return b.lastIndexOf(QByteArray("PK\x05\x06", 4));
}
QByteArray emptyEndRecord() {
    QByteArray b(22, '\0');
    put32(b, 0, 0x06054B50);
    return b;
}

class ZipArchiveTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = new QTemporaryDir;
        const QString root = dir->path();
        // The tree zip packs.
        writeFile(root + "/tree/docs/readme.txt", QByteArray("Read me first.\n").repeated(500));
        writeFile(root + "/tree/docs/data.bin", pattern(300000));
        writeFile(root + "/tree/empty.txt", QByteArray());
        auto zip = [&](const QStringList& args) {
            QProcess p;
            p.setWorkingDirectory(root + "/tree");
            p.start(QStringLiteral("zip"), QStringList{"-q", "-X"} + args);
            return p.waitForFinished(30000) && p.exitCode() == 0;
        };
        toolsOk = zip({"-r", "../deflated.zip", "docs", "empty.txt"}) &&
                  zip({"-0", "-r", "../stored.zip", "docs"}) &&
                  zip({"-e", "-P", "secret", "../encrypted.zip", "docs/readme.txt"}) &&
                  zip({"-Z", "bzip2", "../bzip2.zip", "docs/readme.txt"});
        QProcess python;
        python.start(
            QStringLiteral("python3"),
            {"-W", "ignore",
             qEnvironmentVariable("TW_SOURCE_DIR") + "/tests/fixtures/preview/make_zips.py", root});
        toolsOk = toolsOk && python.waitForFinished(30000) && python.exitCode() == 0;
        oracle = new QJsonObject(QJsonDocument::fromJson(python.readAllStandardOutput()).object());
    }
    static void TearDownTestSuite() {
        delete dir;
        delete oracle;
    }
    void SetUp() override {
        if (!toolsOk)
            GTEST_SKIP() << "zip or python3 is missing";
    }
    Served archive(const QString& name) { return Served{fileBytes(dir->filePath(name)), {}, {}}; }
    QByteArray original(const QString& path) { return fileBytes(dir->path() + "/tree/" + path); }

    static inline QTemporaryDir* dir = nullptr;
    static inline QJsonObject* oracle = nullptr;
    static inline bool toolsOk = false;
};

} // namespace

TEST_F(ZipArchiveTest, ZipToolArchivesListAndExtract) {
    for (const QString name : {"deflated.zip", "stored.zip"}) {
        SCOPED_TRACE(name.toStdString());
        Served zip = archive(name);
        const QList<ZipEntry> entries = zip.entries();
        EXPECT_EQ(zip.reads.size(), 2); // the tail, then the directory
        QStringList paths;
        for (const ZipEntry& e : entries)
            paths.append(e.path);
        EXPECT_TRUE(paths.contains("docs/"));
        EXPECT_TRUE(paths.contains("docs/readme.txt"));
        EXPECT_TRUE(paths.contains("docs/data.bin"));
        for (const ZipEntry& e : entries) {
            SCOPED_TRACE(e.path.toStdString());
            EXPECT_TRUE(e.modifiedAt.has_value());
            EXPECT_FALSE(e.isEncrypted);
            if (e.isDirectory()) {
                EXPECT_EQ(e.name(), "docs");
                EXPECT_FALSE(e.canExtract());
                EXPECT_EQ(zipErrorOf([&] { zip.extract(e); }), Code::unsupportedEntry);
                continue;
            }
            EXPECT_EQ(e.method, name == "stored.zip" ? 0 : (e.uncompressedSize ? 8 : 0));
            zip.reads.clear();
            EXPECT_EQ(zip.extract(e), original(e.path));
            EXPECT_LE(zip.reads.size(), 2);
        }
    }
}

TEST_F(ZipArchiveTest, EncryptedAndBzip2MembersAreListedButNotExtracted) {
    Served encrypted = archive("encrypted.zip");
    const auto enc = encrypted.entries();
    ASSERT_EQ(enc.size(), 1);
    EXPECT_TRUE(enc[0].isEncrypted);
    EXPECT_FALSE(enc[0].canExtract());
    EXPECT_EQ(zipErrorOf([&] { encrypted.extract(enc[0]); }), Code::unsupportedEntry);

    Served bzip2 = archive("bzip2.zip");
    const auto bz = bzip2.entries();
    ASSERT_EQ(bz.size(), 1);
    EXPECT_EQ(bz[0].method, 12);
    EXPECT_FALSE(bz[0].canExtract());
    bzip2.reads.clear();
    EXPECT_EQ(zipErrorOf([&] { bzip2.extract(bz[0]); }), Code::unsupportedEntry);
    EXPECT_TRUE(bzip2.reads.isEmpty());
}

TEST_F(ZipArchiveTest, PythonArchivesMatchZipfilesOwnListing) {
    ASSERT_EQ(oracle->size(), 3);
    for (auto it = oracle->begin(); it != oracle->end(); ++it) {
        SCOPED_TRACE(it.key().toStdString());
        Served zip = archive(it.key());
        const QList<ZipEntry> entries = zip.entries();
        const QJsonArray expected = it.value().toArray();
        ASSERT_EQ(entries.size(), expected.size());
        for (qsizetype i = 0; i < entries.size(); ++i) {
            const ZipEntry& e = entries[i];
            const QJsonObject x = expected[i].toObject();
            SCOPED_TRACE(x["path"].toString().toStdString());
            if (x["path"].toString().startsWith(QLatin1String("Gr")))
                // cp437 bytes are not UTF-8: listed with replacement characters.
                EXPECT_EQ(e.path, QString::fromUtf8("Gr\uFFFD\uFFFDe.txt"));
            else
                EXPECT_EQ(e.path, x["path"].toString());
            EXPECT_EQ(e.compressedSize, x["compressedSize"].toInteger());
            EXPECT_EQ(e.uncompressedSize, x["uncompressedSize"].toInteger());
            EXPECT_EQ(e.method, x["method"].toInt());
            EXPECT_EQ(e.crc32, quint32(x["crc32"].toInteger()));
            EXPECT_EQ(e.localHeaderOffset, x["localHeaderOffset"].toInteger());
            EXPECT_EQ(e.isEncrypted, (x["flags"].toInt() & 1) != 0);
            if (e.canExtract()) { // the size and CRC zipfile recorded are checked on the way
                EXPECT_EQ(zip.extract(e).size(), e.uncompressedSize);
            }
        }
    }
}

TEST_F(ZipArchiveTest, NamesDuplicatesEmptiesAndLongComment) {
    Served zip = archive("names.zip"); // ends in a 65535-byte comment
    const QList<ZipEntry> entries = zip.entries();
    ASSERT_EQ(entries.size(), 7);
    EXPECT_EQ(entries[0].modifiedAt,
              QDateTime(QDate(1980, 1, 1), QTime(0, 0), QTimeZone::systemTimeZone()).toUTC());
    // Same path, different ids, each with its own bytes.
    EXPECT_EQ(entries[1].path, entries[2].path);
    EXPECT_NE(entries[1].id(), entries[2].id());
    EXPECT_EQ(zip.extract(entries[1]), "first");
    EXPECT_EQ(zip.extract(entries[2]), "second");
    // Empty members, stored and deflated (the latter is not decoded at all).
    EXPECT_EQ(entries[3].method, 0);
    EXPECT_EQ(entries[4].method, 8);
    EXPECT_TRUE(zip.extract(entries[3]).isEmpty());
    EXPECT_TRUE(zip.extract(entries[4]).isEmpty());
    // A hostile name is listed as stored, and only its sanitised forms reach the disk.
    EXPECT_EQ(entries[5].path, "../../evil.txt");
    EXPECT_EQ(ZipArchiveReader::safeFileName(entries[5].path), "evil.txt");
    EXPECT_EQ(ZipArchiveReader::safeRelativePath(entries[5].path), "evil.txt");
    EXPECT_TRUE(entries[6].isDirectory());
    EXPECT_EQ(entries[6].name(), "sub");
}

TEST_F(ZipArchiveTest, ExtractToStreamsIntoAnAtomicFile) {
    Served zip = archive("descriptors.zip");
    const auto entries = zip.entries();
    const QString target = dir->filePath("out/payload.bin");
    QDir().mkpath(dir->filePath("out"));
    QSaveFile file(target);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ZipArchiveReader::extractTo(entries[1], zip.read(), file);
    ASSERT_TRUE(file.commit());
    EXPECT_EQ(QFileInfo(target).size(), 200000);
    EXPECT_EQ(CRC32::checksum(fileBytes(target)), entries[1].crc32);
}

// ---- hostile and broken archives ------------------------------------------------------------

TEST_F(ZipArchiveTest, TinyAndEmptyArchives) {
    Served tiny{QByteArray(21, 'x'), {}, {}};
    EXPECT_EQ(zipErrorOf([&] { tiny.entries(); }), Code::notAZip);
    EXPECT_TRUE(tiny.reads.isEmpty());

    Served empty{emptyEndRecord(), {}, {}};
    EXPECT_TRUE(empty.entries().isEmpty());
    EXPECT_EQ(empty.reads.size(), 1);

    Served noRecord{QByteArray(5000, 'x'), {}, {}};
    EXPECT_EQ(zipErrorOf([&] { noRecord.entries(); }), Code::notAZip);
}

TEST_F(ZipArchiveTest, BrokenEndRecordsAndDirectories) {
    const QByteArray good = archive("stored.zip").bytes;
    const qsizetype end = endRecord(good);
    struct Case {
        const char* what;
        std::function<void(QByteArray&)> patch;
        std::optional<Code> expected;
    };
    const Case cases[] = {
        {"ZIP64 record count", [&](QByteArray& b) { put16(b, end + 10, 0xFFFF); },
         Code::unsupportedZip64},
        {"ZIP64 directory offset", [&](QByteArray& b) { put32(b, end + 16, 0xFFFFFFFF); },
         Code::unsupportedZip64},
        {"directory over 16 MiB", [&](QByteArray& b) { put32(b, end + 12, 0x1000001); },
         Code::directoryTooLarge},
        {"directory past the end",
         [&](QByteArray& b) { put32(b, end + 16, quint32(b.size() - 10)); }, Code::corrupt},
        {"name runs past the directory",
         [&](QByteArray& b) { put16(b, centralHeader(b, 0) + 28, 0xFFFF); }, Code::corrupt},
        {"truncated before the end record", [&](QByteArray& b) { b.truncate(b.size() / 2); },
         Code::notAZip},
        {"directory cut short by garbage",
         [&](QByteArray& b) { put32(b, centralHeader(b, 2), 0x12345678); }, Code::corrupt},
        {"more members announced than the directory holds",
         [&](QByteArray& b) {
             put16(b, end + 8, 4);
             put16(b, end + 10, 4);
         },
         Code::corrupt},
        {"members announced in an empty directory",
         [&](QByteArray& b) {
             b = b.mid(end);
             put32(b, 12, 0);
             put32(b, 16, 0);
         },
         Code::corrupt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Served zip{good, {}, {}};
        c.patch(zip.bytes);
        EXPECT_EQ(zipErrorOf([&] { zip.entries(); }), c.expected);
        if (!c.expected) {
            EXPECT_EQ(zip.entries().size(), 3);
        }
    }
}

TEST_F(ZipArchiveTest, ArchivesWithBytesInFrontListAndExtract) {
    // A self-extractor or script stub in front of the archive: the records' offsets count
    // from the start of the archive, not of the file.
    const Served plain = archive("deflated.zip");
    const QList<ZipEntry> expected = Served(plain).entries();
    ASSERT_FALSE(expected.isEmpty());
    for (const qsizetype prefixLength : {1, 4096, 70000}) {
        SCOPED_TRACE(prefixLength);
        Served prefixed{QByteArray("#!/bin/sh\nexit 0\n").leftJustified(prefixLength, 'x', true) +
                            plain.bytes,
                        {},
                        {}};
        const QList<ZipEntry> listed = prefixed.entries();
        ASSERT_EQ(listed.size(), expected.size());
        for (qsizetype i = 0; i < listed.size(); ++i) {
            EXPECT_EQ(listed[i].path, expected[i].path);
            EXPECT_EQ(listed[i].localHeaderOffset, expected[i].localHeaderOffset + prefixLength);
            if (listed[i].canExtract()) {
                EXPECT_TRUE(prefixed.extract(listed[i]) == original(listed[i].path))
                    << listed[i].path.toStdString();
            }
        }
    }
}

TEST_F(ZipArchiveTest, ShortReadsAreCorruptNeverReadPastTheBuffer) {
    const QByteArray good = archive("deflated.zip").bytes;
    // The listed size is larger than the file: the tail comes back short.
    Served stale{good, {}, {}};
    EXPECT_EQ(zipErrorOf([&] { ZipArchiveReader::entries(good.size() + 1000, stale.read()); }),
              Code::corrupt);
    // The back end cuts every answer.
    Served cut{good, {}, 100};
    EXPECT_EQ(zipErrorOf([&] { cut.entries(); }), Code::corrupt);
    // Listing works, but the member data comes back short.
    Served member{good, {}, {}};
    const auto entries = member.entries();
    member.cap = 50;
    for (const ZipEntry& e : entries) {
        if (e.canExtract() && e.compressedSize > 50) {
            EXPECT_EQ(zipErrorOf([&] { member.extract(e); }), Code::corrupt)
                << e.path.toStdString();
        }
    }
}

TEST_F(ZipArchiveTest, HostileMemberRecords) {
    Served zip = archive("deflated.zip");
    const QList<ZipEntry> entries = zip.entries();
    ZipEntry data;
    for (const ZipEntry& e : entries)
        if (e.path == "docs/data.bin")
            data = e;
    ASSERT_EQ(data.method, 8);
    ZipEntry stored = archive("stored.zip").entries().value(2);
    Served storedZip = archive("stored.zip");
    ASSERT_EQ(stored.method, 0);

    struct Case {
        const char* what;
        Served* source;
        ZipEntry entry;
        Code expected;
    };
    auto with = [](ZipEntry e, auto change) {
        change(e);
        return e;
    };
    const Case cases[] = {
        {"bad CRC (stored)", &storedZip, with(stored, [](ZipEntry& e) { e.crc32 ^= 1; }),
         Code::corrupt},
        {"bad CRC (deflated)", &zip, with(data, [](ZipEntry& e) { e.crc32 ^= 1; }), Code::corrupt},
        {"inflates to more than recorded", &zip,
         with(data, [](ZipEntry& e) { e.uncompressedSize -= 1; }), Code::corrupt},
        {"inflates to less than recorded", &zip,
         with(data, [](ZipEntry& e) { e.uncompressedSize += 1; }), Code::corrupt},
        {"stored sizes disagree", &storedZip,
         with(stored, [](ZipEntry& e) { e.compressedSize += 1; }), Code::corrupt},
        {"uncompressed size over 2 GiB", &zip,
         with(data, [](ZipEntry& e) { e.uncompressedSize = 0x80000001LL; }),
         Code::directoryTooLarge},
        {"compressed size over 2 GiB", &zip,
         with(data, [](ZipEntry& e) { e.compressedSize = 0xFFFFFFFFLL; }), Code::directoryTooLarge},
        {"compressed size past the end of the archive", &zip,
         with(data, [](ZipEntry& e) { e.compressedSize = 0x7FFFFFF0LL; }), Code::corrupt},
        {"local header past the end", &zip,
         with(data, [](ZipEntry& e) { e.localHeaderOffset = 1 << 30; }), Code::corrupt},
        {"no local header signature", &zip,
         with(data, [](ZipEntry& e) { e.localHeaderOffset += 1; }), Code::corrupt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.source->reads.clear();
        EXPECT_EQ(zipErrorOf([&] { c.source->extract(c.entry); }), c.expected);
        // Nothing asks for more than one extraction chunk at once, whatever the record says.
        for (const ByteRange& r : c.source->reads)
            EXPECT_LE(r.length(), ZipArchiveReader::extractChunkSize);
    }
}

TEST(ZipMemberBoundsTest, AMemberReachingPastTheEndIsCorruptBeforeAnyReadBeyondIt) {
    // Two members; the second is stored, so its data length is its compressed size.
    const QByteArray first = pattern(5000);
    const QByteArray second = pattern(3000);
    const QByteArray good = test::ZipBuilder()
                                .addFile(QStringLiteral("first.bin"), first)
                                .addFile(QStringLiteral("second.bin"), second,
                                         test::ZipBuilder::Method::stored)
                                .bytes();
    const qsizetype directory = centralHeader(good, 0);
    const quint32 secondOffset = quint32(good.indexOf(QByteArray("PK\x03\x04", 4), 1));
    const quint32 size = quint32(good.size());

    struct Case {
        const char* what;
        std::function<void(QByteArray&)> patch; // applied to the archive
        std::optional<Code> expected;           // of the second member; nullopt: extracts
    };
    // Central header fields: 20 compressed size, 24 uncompressed size, 42 local offset.
    // Local header fields: 26 name length, 28 extra length.
    auto central = [](QByteArray& b, qsizetype field, quint32 value) {
        put32(b, centralHeader(b, 1) + field, value);
    };
    const Case cases[] = {
        {"untouched", [](QByteArray&) {}, std::nullopt},
        {"local header at the end", [&](QByteArray& b) { central(b, 42, size); }, Code::corrupt},
        {"local header far past the end",
         [&](QByteArray& b) { central(b, 42, 0xFFFFFFF0u); },
         Code::corrupt},
        {"local header cut by the end",
         [&](QByteArray& b) { central(b, 42, size - 10); },
         Code::corrupt},
        {"data past the end",
         [&](QByteArray& b) {
             central(b, 20, size);
             central(b, 24, size);
         },
         Code::corrupt},
        {"extra field past the end",
         [&](QByteArray& b) { put16(b, qsizetype(secondOffset) + 28, 0xFFFF); },
         Code::corrupt},
        // Inside the archive but not the member: found out by its contents, not its bounds.
        {"local header in the directory",
         [&](QByteArray& b) { central(b, 42, quint32(directory)); },
         Code::corrupt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Served zip{good, {}, {}};
        c.patch(zip.bytes);
        const QList<ZipEntry> entries = zip.entries();
        ASSERT_EQ(entries.size(), 2);
        EXPECT_EQ(entries[1].archiveSize, zip.bytes.size());
        zip.reads.clear();
        std::optional<Code> outcome;
        QByteArray extracted;
        try {
            extracted = zip.extract(entries[1]);
        } catch (const ZipError& error) {
            outcome = error.code();
        }
        EXPECT_EQ(outcome, c.expected);
        if (!outcome) {
            EXPECT_EQ(extracted, second);
        }
        for (const ByteRange& r : zip.reads) {
            EXPECT_GE(r.lower, 0);
            EXPECT_LE(r.upper, zip.bytes.size()) << "read past the end: " << r.lower;
        }
        // The first member is untouched by every patch.
        EXPECT_EQ(zip.extract(entries[0]), first);
    }

    // An entry not listed from an archive (no size known) is never read.
    ZipEntry loose = Served{good, {}, {}}.entries().value(1);
    loose.archiveSize = 0;
    Served zip{good, {}, {}};
    EXPECT_EQ(zipErrorOf([&] { zip.extract(loose); }), Code::corrupt);
    EXPECT_TRUE(zip.reads.isEmpty());
}

TEST_F(ZipArchiveTest, MutatedArchivesFailCleanly) {
    // Deterministic byte mutations of real archives: every outcome is a listing, a member or
    // a ZipError, never a crash or a read out of bounds (run it under ASan).
    std::mt19937 random(20260101);
    for (const QString name : {"deflated.zip", "descriptors.zip", "names.zip"}) {
        const QByteArray original = archive(name).bytes;
        for (int round = 0; round < 400; ++round) {
            Served zip{original, {}, {}};
            const int flips = 1 + int(random() % 8);
            for (int i = 0; i < flips; ++i) {
                // Bias the damage towards the tail, where the directory lives.
                const qsizetype span = std::min<qsizetype>(zip.bytes.size(), 4096);
                const qsizetype at = zip.bytes.size() - 1 - qsizetype(random() % span);
                zip.bytes[at] = char(random() & 0xFF);
            }
            if (random() % 10 == 0)
                zip.bytes.truncate(qsizetype(random() % zip.bytes.size()));
            try {
                for (const ZipEntry& e : zip.entries())
                    if (e.canExtract())
                        try {
                            EXPECT_EQ(zip.extract(e).size(), e.uncompressedSize);
                        } catch (const ZipError&) {
                        }
            } catch (const ZipError&) {
            }
        }
    }
}

TEST(ZipDirectoryBlocksTest, ALargeDirectoryIsReadInBoundedBlocksAndListedWhole) {
    // Over a block of directory, with names of every length up to 200 bytes, so that a
    // record straddles the block's end.
    constexpr int kMembers = 9000;
    test::ZipBuilder builder;
    const auto pathOf = [](int i) {
        return QStringLiteral("d/") + QString(i % 200, QLatin1Char('n')) +
               QStringLiteral("-%1.txt").arg(i);
    };
    for (int i = 0; i < kMembers; ++i)
        builder.addFile(pathOf(i), QByteArray(i % 3, 'x'), test::ZipBuilder::Method::stored);
    Served zip{builder.bytes(), {}, {}};
    const QByteArray& bytes = zip.bytes;
    const qint64 directorySize =
        qint64(uchar(bytes[bytes.size() - 10])) | qint64(uchar(bytes[bytes.size() - 9])) << 8 |
        qint64(uchar(bytes[bytes.size() - 8])) << 16 | qint64(uchar(bytes[bytes.size() - 7])) << 24;
    ASSERT_GT(directorySize, ZipArchiveReader::directoryBlockSize);
    ASSERT_LT(directorySize, 2 * ZipArchiveReader::directoryBlockSize);

    const QList<ZipEntry> entries = zip.entries();
    // The tail, then the directory a block at a time: no read holds much more than a block.
    ASSERT_EQ(zip.reads.size(), 3);
    for (const ByteRange& read : zip.reads.mid(1))
        EXPECT_LE(read.length(), ZipArchiveReader::directoryBlockSize + 46 + 0xFFFF);
    EXPECT_EQ(zip.reads[1].length() + zip.reads[2].length(), directorySize);

    ASSERT_EQ(entries.size(), kMembers);
    for (int i = 0; i < kMembers; ++i) {
        ASSERT_EQ(entries[i].path, pathOf(i));
        ASSERT_EQ(entries[i].uncompressedSize, i % 3);
    }
    for (int i : {0, 199, 6001, kMembers - 1})
        EXPECT_EQ(zip.extract(entries[i]), QByteArray(i % 3, 'x')) << i;
}

TEST(ZipDirectoryBlocksTest, AMemberOfSeveralChunksIsReadIntoOneBuffer) {
    // A member over two chunks, read through a read that fills the buffer it is handed:
    // after the first chunk, the next read finds the room it needs.
    const QByteArray content = pattern(ZipArchiveReader::extractChunkSize + 100);
    const QByteArray bytes =
        test::ZipBuilder().addFile("big.bin", content, test::ZipBuilder::Method::stored).bytes();
    QList<qsizetype> roomOnEntry;
    const ZipReadFunction filling = [&](ByteRange range, QByteArray& into) {
        roomOnEntry.append(into.capacity());
        into.resize(range.length());
        std::memcpy(into.data(), bytes.constData() + range.lower, size_t(range.length()));
    };
    const ZipEntries entries = ZipArchiveReader::entries(bytes.size(), filling);
    ASSERT_EQ(entries.size(), 1);
    roomOnEntry.clear();
    EXPECT_EQ(ZipArchiveReader::extract(entries[0], filling), content);
    // The local header, then two chunks of data.
    ASSERT_EQ(roomOnEntry.size(), 3);
    EXPECT_GE(roomOnEntry[2], ZipArchiveReader::extractChunkSize);
}

TEST(ZipEntriesTest, HoldsEveryFieldOfTheEntriesItIsGiven) {
    ZipEntry plain;
    plain.path = QStringLiteral("folder/Grüße \U0001F600.txt");
    plain.compressedSize = 10;
    plain.uncompressedSize = 3'000'000'000LL;
    plain.method = 8;
    plain.crc32 = 0xDEADBEEF;
    plain.modifiedAt = QDateTime(QDate(2020, 2, 29), QTime(13, 14, 16), QTimeZone::utc());
    plain.localHeaderOffset = 5'000'000'000LL;
    plain.isEncrypted = true;
    plain.archiveSize = 6'000'000'000LL;
    ZipEntry folder;
    folder.path = QStringLiteral("folder/");
    const ZipEntries entries{plain, folder};
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0], plain);
    EXPECT_EQ(entries[1], folder);
    EXPECT_FALSE(entries[1].modifiedAt.has_value());
    EXPECT_EQ(entries.toList(), (QList<ZipEntry>{plain, folder}));
    EXPECT_FALSE(entries.isDirectory(0));
    EXPECT_TRUE(entries.isDirectory(1));
    EXPECT_EQ(entries.pathBytes(0), plain.path.toUtf8());
    EXPECT_EQ(entries, (ZipEntries{plain, folder}));
    EXPECT_NE(entries, (ZipEntries{plain}));
    EXPECT_NE(entries, (ZipEntries{folder, plain}));
    EXPECT_EQ(entries.value(2), ZipEntry());
}

TEST(ZipEntriesTest, MembersOnBothSidesOfTheCompactLimitsKeepEveryField) {
    // Members whose sizes, offsets, path lengths and archive sizes sit on either side of what a
    // compact record holds, mixed in one list, with dates that come back after another date
    // and members without one.
    const auto at = [](int day) {
        return QDateTime(QDate(2021, 3, day), QTime(10, 0), QTimeZone::utc());
    };
    const auto member = [](QString path, qint64 compressed, qint64 uncompressed, qint64 offset,
                           qint64 archiveSize, std::optional<QDateTime> date) {
        ZipEntry e;
        e.path = std::move(path);
        e.compressedSize = compressed;
        e.uncompressedSize = uncompressed;
        e.localHeaderOffset = offset;
        e.archiveSize = archiveSize;
        e.modifiedAt = date;
        e.method = 8;
        e.crc32 = quint32(compressed * 7 + offset);
        return e;
    };
    constexpr qint64 k4G = 0x100000000LL;
    constexpr qint64 archive = 9 * k4G;
    const QString longest(0xFFFF, QLatin1Char('p'));
    const QList<ZipEntry> members{
        member("a.txt", 1, 2, 0, archive, at(1)),
        member("largest 32-bit values", k4G - 1, k4G - 1, k4G - 1, archive, at(2)),
        member("compressed size past 32 bits", k4G, 5, 10, archive, at(1)),
        member("uncompressed size past 32 bits", 5, k4G, 10, archive, at(2)),
        member("offset past 32 bits", 5, 5, 8 * k4G, archive, std::nullopt),
        member("negative size", -1, 5, 10, archive, at(2)),
        member("another archive's size", 5, 5, 10, 77, at(3)),
        member(longest, 5, 5, 10, archive, at(3)),
        member(longest + QStringLiteral("é"), 5, 5, 10, archive, at(1)),
        member(QStringLiteral("folder/"), 0, 0, 20, archive, std::nullopt),
        member("b.txt", 3, 4, 30, archive, at(1)),
    };
    ZipEntries list;
    for (const ZipEntry& e : members)
        list.append(e);
    ASSERT_EQ(list.size(), members.size());
    for (qsizetype i = 0; i < members.size(); ++i) {
        SCOPED_TRACE(members[i].path.left(40).toStdString());
        EXPECT_EQ(list[i], members[i]);
        EXPECT_EQ(list.pathBytes(i), members[i].path.toUtf8());
        EXPECT_EQ(list.uncompressedSize(i), members[i].uncompressedSize);
        EXPECT_EQ(list.isDirectory(i), members[i].isDirectory());
    }
    EXPECT_EQ(list.toList(), members);

    // Equal lists hold equal members, whichever way each is kept.
    ZipEntries same;
    for (const ZipEntry& e : members)
        same.append(e);
    EXPECT_EQ(list, same);
    for (qsizetype changed : {0, 2, 7}) {
        ZipEntries other;
        for (qsizetype i = 0; i < members.size(); ++i) {
            ZipEntry e = members[i];
            if (i == changed)
                e.crc32 ^= 1;
            other.append(e);
        }
        EXPECT_NE(list, other) << changed;
    }
}

TEST_F(ZipArchiveTest, AnArchiveBehindGigabytesOfOtherBytesKeepsItsFullOffsets) {
    // Bytes in front that push every member's offset past 4 GiB: the archive is served as if
    // it ended a file of over 5 GiB of zeros, of which only what the tail search reads is
    // ever asked for.
    const Served plain = archive("deflated.zip");
    const QList<ZipEntry> expected = Served(plain).entries();
    ASSERT_FALSE(expected.isEmpty());
    constexpr qint64 front = 5'000'000'000LL;
    const qint64 size = front + plain.bytes.size();
    const ZipReadFunction read = [&](ByteRange range) {
        EXPECT_GE(range.lower, size - 0x10000 - 22);
        EXPECT_LE(range.upper, size);
        const qint64 zeros = std::max<qint64>(0, std::min(range.upper, front) - range.lower);
        return QByteArray(zeros, '\0') +
               plain.bytes.mid(std::max(range.lower, front) - front, range.length() - zeros);
    };
    const ZipEntries listed = ZipArchiveReader::entries(size, read);
    ASSERT_EQ(listed.size(), expected.size());
    for (qsizetype i = 0; i < listed.size(); ++i) {
        const ZipEntry e = listed[i];
        EXPECT_EQ(e.path, expected[i].path);
        EXPECT_EQ(e.localHeaderOffset, expected[i].localHeaderOffset + front);
        EXPECT_EQ(e.archiveSize, size);
        EXPECT_EQ(e.modifiedAt, expected[i].modifiedAt);
        if (e.canExtract()) {
            EXPECT_TRUE(ZipArchiveReader::extract(e, read) == original(e.path))
                << e.path.toStdString();
        }
    }
}

TEST_F(ZipArchiveTest, ReadFailuresPassThrough) {
    const ZipReadFunction failing = [](ByteRange) -> QByteArray {
        throw StorageError(StorageError::Code::rateLimited);
    };
    try {
        ZipArchiveReader::entries(1000, failing);
        FAIL() << "no error";
    } catch (const StorageError& error) {
        EXPECT_EQ(error.code(), StorageError::Code::rateLimited);
    }
}

// ---- helpers --------------------------------------------------------------------------------

TEST(ZipHelpersTest, DosDates) {
    auto local = [](int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
        return QDateTime(QDate(y, mo, d), QTime(h, mi, s), QTimeZone::systemTimeZone()).toUTC();
    };
    struct Case {
        quint16 time, date;
        std::optional<QDateTime> expected;
    };
    const Case cases[] = {
        {0, 0x21, local(1980, 1, 1)},
        {(13 << 11) | (45 << 5) | 15, ((2024 - 1980) << 9) | (6 << 5) | 30,
         local(2024, 6, 30, 13, 45, 30)},
        {0, (0 << 5) | 1, std::nullopt},                              // month 0
        {0, (1 << 5) | 0, std::nullopt},                              // day 0
        {0, (13 << 5) | 1, std::nullopt},                             // month 13
        {0, ((2023 - 1980) << 9) | (2 << 5) | 31, local(2023, 3, 3)}, // 31 February rolls over
        {(24 << 11), ((2023 - 1980) << 9) | (1 << 5) | 1, local(2023, 1, 2)}, // hour 24
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.time << "/" << c.date);
        EXPECT_EQ(ZipArchiveReader::dosDate(c.time, c.date), c.expected);
    }
}

TEST(ZipHelpersTest, Crc32) {
    EXPECT_EQ(CRC32::checksum(QByteArray()), 0u);
    EXPECT_EQ(CRC32::checksum("123456789"), 0xCBF43926u);
    EXPECT_EQ(CRC32::checksum("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
}

TEST(ZipHelpersTest, EntryNamesAndIds) {
    struct Case {
        const char* path;
        const char* name;
        bool directory;
    };
    const Case cases[] = {
        {"a/b/c.pdf", "c.pdf", false}, {"a/b/", "b", true},
        {"top.txt", "top.txt", false}, {"/", "", true},
        {"a/..", "..", false},  {"/////", "", true}, // no component: no name, never slashes
    };
    for (const Case& c : cases) {
        ZipEntry e;
        e.path = QString::fromUtf8(c.path);
        e.localHeaderOffset = 42;
        EXPECT_EQ(e.name(), QString::fromUtf8(c.name)) << c.path;
        EXPECT_EQ(e.isDirectory(), c.directory) << c.path;
        EXPECT_EQ(e.id(), QStringLiteral("42:") + e.path);
    }
}

TEST(ZipHelpersTest, MemberNamesNeverBecomeUnsafeLocalPaths) {
    struct Case {
        QString path, fileName, relative;
    };
    const Case cases[] = {
        {"docs/report.pdf", "report.pdf", "docs/report.pdf"},
        {"../../etc/passwd", "passwd", "etc/passwd"},
        {"/absolute/file.txt", "file.txt", "absolute/file.txt"},
        {"a/..", "Untitled", "a"},
        {".", "Untitled", ""},
        {"..", "Untitled", ""},
        {"dir\\..\\..\\win.ini", "win.ini", "dir/win.ini"},
        {"C:\\Windows\\system.ini", "system.ini", "Windows/system.ini"},
        {QStringLiteral("nul") + QChar(0) + QStringLiteral("byte.txt"), "nulbyte.txt",
         "nulbyte.txt"},
        {"tab\tname.txt", "tabname.txt", "tabname.txt"},
        {"", "Untitled", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        EXPECT_EQ(ZipArchiveReader::safeFileName(c.path), c.fileName);
        EXPECT_EQ(ZipArchiveReader::safeRelativePath(c.path), c.relative);
    }
}

TEST(ZipHelpersTest, LastIndexSearchesBackwardsWithinTheBuffer) {
    const QByteArray hay = "abcXYabcXY";
    EXPECT_EQ(ZipArchiveReader::lastIndex("XY", hay, 100), 8);
    EXPECT_EQ(ZipArchiveReader::lastIndex("XY", hay, 7), 3);
    EXPECT_EQ(ZipArchiveReader::lastIndex("XY", hay, 2), -1);
    EXPECT_EQ(ZipArchiveReader::lastIndex("XY", "X", 0), -1);
}

namespace {

/// Sets the process's time zone for the lifetime of the object.
class LocalZone {
public:
    explicit LocalZone(const char* zone)
        : saved_(qgetenv("TZ")), had_(qEnvironmentVariableIsSet("TZ")) {
        qputenv("TZ", zone);
        ::tzset();
    }
    ~LocalZone() {
        if (had_)
            qputenv("TZ", saved_);
        else
            qunsetenv("TZ");
        ::tzset();
    }

private:
    QByteArray saved_;
    bool had_;
};

} // namespace

TEST(ZipHelpersTest, DosDatesOnDaysTheClocksChange) {
    // The fields are the wall-clock time the tool recorded; a day on which the clocks go
    // forward or back (or on which midnight never happens) keeps them as they are.
    struct Case {
        const char* zone;
        int year, month, day, hour, minute;
        const char* utc;
    };
    const Case cases[] = {
        {"Europe/Berlin", 2021, 3, 28, 12, 0, "2021-03-28T10:00:00Z"},     // forward at 02:00
        {"Europe/Berlin", 2021, 10, 31, 23, 30, "2021-10-31T22:30:00Z"},   // back at 03:00
        {"Europe/Berlin", 2021, 3, 28, 1, 58, "2021-03-28T00:58:00Z"},     // before the change
        {"America/Sao_Paulo", 2018, 11, 4, 12, 0, "2018-11-04T14:00:00Z"}, // no midnight
        {"America/Sao_Paulo", 2018, 11, 4, 0, 30, "2018-11-04T03:30:00Z"}, // inside the gap
        {"America/Havana", 2022, 3, 13, 8, 0, "2022-03-13T12:00:00Z"},     // no midnight
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.zone << " " << c.year << "-" << c.month << "-" << c.day
                                        << " " << c.hour << ":" << c.minute);
        LocalZone zone(c.zone);
        ASSERT_EQ(QTimeZone::systemTimeZoneId(), QByteArray(c.zone));
        const auto date = quint16(((c.year - 1980) << 9) | (c.month << 5) | c.day);
        const auto time = quint16((c.hour << 11) | (c.minute << 5));
        const auto converted = ZipArchiveReader::dosDate(time, date);
        ASSERT_TRUE(converted.has_value());
        EXPECT_EQ(converted->toString(Qt::ISODate), QString::fromLatin1(c.utc));
    }
}

TEST(ZipHelpersTest, LongNamesAreCutAtTwoHundredFiftyFiveBytesBetweenCharacters) {
    struct Case {
        const char* what;
        QString name;
        qsizetype bytes;
    };
    const QString cjk = QStringLiteral("\u6587");                // 3 bytes in UTF-8
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80"); // 4 bytes, a surrogate pair
    const Case cases[] = {
        {"ASCII", QString(300, QLatin1Char('a')), 255},
        {"CJK", cjk.repeated(200), 255},
        {"CJK after one ASCII byte", QStringLiteral("a") + cjk.repeated(200), 253},
        {"emoji", emoji.repeated(100), 252},
        {"two-byte letters", QStringLiteral("\u00e9").repeated(200), 254},
        {"short CJK stays whole", cjk.repeated(85), 255},
        // The cut falls just after a space: the name never ends on one.
        {"space at the cut", QString(254, QLatin1Char('a')) + QStringLiteral(" bcd"), 254},
        {"dots and a space at the cut",
         QString(253, QLatin1Char('.')) + QStringLiteral("  x"), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString cut = ZipArchiveReader::safeFileName(QStringLiteral("dir/") + c.name);
        if (c.bytes == 0) { // nothing but dots is left
            EXPECT_EQ(cut, QStringLiteral("Untitled"));
            EXPECT_EQ(ZipArchiveReader::safeRelativePath(QStringLiteral("dir/") + c.name),
                      QStringLiteral("dir"));
            continue;
        }
        const QByteArray utf8 = cut.toUtf8();
        EXPECT_EQ(utf8.size(), c.bytes);
        EXPECT_TRUE(c.name.startsWith(cut));
        EXPECT_EQ(QString::fromUtf8(utf8), cut); // no half character, no lone surrogate
        EXPECT_FALSE(cut.back().isHighSurrogate());
        EXPECT_EQ(ZipArchiveReader::safeRelativePath(QStringLiteral("dir/") + c.name),
                  QStringLiteral("dir/") + cut);
    }
}

TEST(ZipHelpersTest, ZipErrorsCompareByCase) {
    EXPECT_TRUE(ZipError(Code::corrupt) == ZipError(Code::corrupt));
    EXPECT_FALSE(ZipError(Code::corrupt) == ZipError(Code::notAZip));
    EXPECT_TRUE(ZipError(Code::notAZip) != ZipError(Code::unsupportedEntry));
}
