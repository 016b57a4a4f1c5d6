// The ZIP reader on an archive held in memory: listing, then extraction of every member that
// can be extracted, through both the whole-member and the streaming path. A member that
// extracts has exactly its recorded size and CRC-32; every name the sanitisers give is plain.

#include "FuzzCheck.h"

#include "StorageCore/Preview/ZipArchive.h"

#include <QBuffer>

#include <cstdlib>

using namespace tw;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("TZ", "UTC", 1); // DOS dates are local time; keep the zone look-up cheap
    return 0;
}

namespace {

constexpr int maxMembersExtracted = 16;

void checkNames(const ZipEntry& entry) {
    const QString name = ZipArchiveReader::safeFileName(entry.path);
    FUZZ_CHECK(fuzz::isPlainName(name));
    const QString relative = ZipArchiveReader::safeRelativePath(entry.path);
    if (relative.isEmpty())
        return;
    FUZZ_CHECK(!relative.startsWith(QLatin1Char('/')));
    for (const QString& part : relative.split(QLatin1Char('/')))
        FUZZ_CHECK(fuzz::isPlainName(part));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray archive = fuzz::bytes(data, size);
    const qint64 archiveSize = archive.size();
    int reads = 0;
    const ZipReadFunction read = [&](ByteRange range) {
        FUZZ_CHECK(range.lower >= 0 && range.lower <= range.upper);
        // Listing and extraction both know the archive's size and never ask past it: a member
        // that would reach beyond the end is corrupt before it is read.
        FUZZ_CHECK(range.upper <= archiveSize);
        ++reads;
        return archive.mid(range.lower, range.length());
    };

    ZipEntries entries;
    try {
        entries = ZipArchiveReader::entries(archiveSize, read);
    } catch (const ZipError&) {
        return 0;
    }
    // The tail, then the directory in blocks (the last one may carry an unfinished record of
    // up to 46 + 65,535 bytes over).
    FUZZ_CHECK(reads <= 2 + archiveSize / ZipArchiveReader::directoryBlockSize);
    // Every member listed stands for a central header's fixed part in the archive: the list
    // cannot outgrow its input.
    FUZZ_CHECK(entries.size() <= archiveSize / 46);

    int extracted = 0;
    for (const ZipEntry& entry : entries) {
        checkNames(entry);
        FUZZ_CHECK(entry.archiveSize == archiveSize);
        FUZZ_CHECK(!entry.name().contains(QLatin1Char('/')));
        if (entry.modifiedAt)
            FUZZ_CHECK(entry.modifiedAt->isValid());
        if (!entry.canExtract() || extracted >= maxMembersExtracted)
            continue;
        ++extracted;
        std::optional<QByteArray> whole;
        try {
            whole = ZipArchiveReader::extract(entry, read);
        } catch (const ZipError&) {
        }
        if (whole) {
            FUZZ_CHECK(whole->size() == entry.uncompressedSize);
            FUZZ_CHECK(CRC32::checksum(*whole) == entry.crc32);
        }
        // The streaming path agrees with the whole-member path.
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        bool streamed = true;
        try {
            ZipArchiveReader::extractTo(entry, read, out);
        } catch (const ZipError&) {
            streamed = false;
        }
        FUZZ_CHECK(streamed == whole.has_value());
        if (streamed)
            FUZZ_CHECK(out.data() == *whole);
    }
    return 0;
}
