#include "StorageCore/Preview/ZipArchive.h"

#include "StorageCore/Concurrency/Cancellation.h"
#include "StorageCore/Domain/StorageError.h"
#include "StorageCore/Files/LocalFileName.h"

#include <QHash>
#include <QIODevice>
#include <QTimeZone>

#include <zlib.h>

#include <cstring>

namespace tw {

// ---- ZipEntry -------------------------------------------------------------------------------

QString ZipEntry::id() const {
    return QString::number(localHeaderOffset) + QLatin1Char(':') + path;
}

QString ZipEntry::name() const {
    QString trimmed = path;
    if (trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    const QStringList pieces = trimmed.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    return pieces.isEmpty() ? QString() : pieces.last(); // "///" has no component
}

size_t qHash(const ZipEntry& e, size_t seed) noexcept {
    return qHashMulti(seed, e.path, e.compressedSize, e.uncompressedSize, e.method, e.crc32,
                      e.modifiedAt.value_or(QDateTime()), e.localHeaderOffset, e.isEncrypted,
                      e.archiveSize);
}

// ---- ZipEntries -----------------------------------------------------------------------------

ZipEntries::ZipEntries(std::initializer_list<ZipEntry> entries) {
    records_.reserve(qsizetype(entries.size()));
    for (const ZipEntry& entry : entries)
        append(entry);
}

void ZipEntries::appendRecord(QByteArrayView path, Record record) {
    Q_ASSERT(path.size() <= 0xFFFF);
    if (paths_.size() + path.size() > std::numeric_limits<quint32>::max())
        throw ZipError(ZipError::Code::directoryTooLarge);
    record.pathOffset = quint32(paths_.size());
    record.pathLength = quint16(path.size());
    paths_.append(path);
    records_.append(record);
}

quint32 ZipEntries::dateIndex(qint64 msecs) {
    if (dates_.isEmpty() || dates_.constLast() != msecs)
        dates_.append(msecs);
    return quint32(dates_.size() - 1);
}

void ZipEntries::appendFields(QByteArrayView path, const Fields& fields) {
    if (records_.isEmpty())
        archiveSize_ = fields.archiveSize;
    const auto fits = [](qint64 value) { return value >= 0 && value <= 0xFFFFFFFFLL; };
    if (fits(fields.compressedSize) && fits(fields.uncompressedSize) &&
        fits(fields.localHeaderOffset) && fields.archiveSize == archiveSize_ &&
        path.size() <= 0xFFFF) {
        Record record{};
        record.compressedSize = quint32(fields.compressedSize);
        record.uncompressedSize = quint32(fields.uncompressedSize);
        record.localHeaderOffset = quint32(fields.localHeaderOffset);
        record.crc32 = fields.crc32;
        record.date = dateIndex(fields.modifiedMSecs);
        record.method = fields.method;
        record.flags = fields.isEncrypted ? kEncrypted : 0;
        appendRecord(path, record);
        return;
    }
    Record record{};
    record.pathOffset = quint32(wide_.size());
    record.flags = kWide;
    wide_.append(Wide{fields, path.toByteArray()});
    records_.append(record);
}

void ZipEntries::append(const ZipEntry& entry) {
    const Fields fields{entry.compressedSize,
                        entry.uncompressedSize,
                        entry.localHeaderOffset,
                        entry.archiveSize,
                        entry.modifiedAt ? entry.modifiedAt->toMSecsSinceEpoch() : kNoDate,
                        entry.crc32,
                        entry.method,
                        entry.isEncrypted};
    appendFields(entry.path.toUtf8(), fields);
}

ZipEntries::Fields ZipEntries::fields(qsizetype i) const {
    const Record& record = records_.at(i);
    if (record.flags & kWide)
        return wide_.at(record.pathOffset).fields;
    return Fields{record.compressedSize, record.uncompressedSize,         record.localHeaderOffset,
                  archiveSize_,          dates_.at(record.date),          record.crc32,
                  record.method,         (record.flags & kEncrypted) != 0};
}

QByteArrayView ZipEntries::pathBytes(qsizetype i) const {
    const Record& record = records_.at(i);
    if (record.flags & kWide)
        return wide_.at(record.pathOffset).path;
    return QByteArrayView(paths_.constData() + record.pathOffset, record.pathLength);
}

bool ZipEntries::isDirectory(qsizetype i) const {
    return pathBytes(i).endsWith('/');
}

ZipEntry ZipEntries::at(qsizetype i) const {
    const Fields f = fields(i);
    ZipEntry entry;
    entry.path = QString::fromUtf8(pathBytes(i));
    entry.compressedSize = f.compressedSize;
    entry.uncompressedSize = f.uncompressedSize;
    entry.method = f.method;
    entry.crc32 = f.crc32;
    if (f.modifiedMSecs != kNoDate)
        entry.modifiedAt = QDateTime::fromMSecsSinceEpoch(f.modifiedMSecs, Qt::UTC);
    entry.localHeaderOffset = f.localHeaderOffset;
    entry.isEncrypted = f.isEncrypted;
    entry.archiveSize = f.archiveSize;
    return entry;
}

QList<ZipEntry> ZipEntries::toList() const {
    QList<ZipEntry> list;
    list.reserve(size());
    for (qsizetype i = 0; i < size(); ++i)
        list.append(at(i));
    return list;
}

bool ZipEntries::operator==(const ZipEntries& other) const {
    if (size() != other.size())
        return false;
    for (qsizetype i = 0; i < size(); ++i) {
        if (pathBytes(i) != other.pathBytes(i) || fields(i) != other.fields(i))
            return false;
    }
    return true;
}

// ---- ZipError -------------------------------------------------------------------------------

QString ZipError::caseName(Code code) {
    switch (code) {
    case Code::notAZip:
        return QStringLiteral("notAZip");
    case Code::unsupportedZip64:
        return QStringLiteral("unsupportedZip64");
    case Code::directoryTooLarge:
        return QStringLiteral("directoryTooLarge");
    case Code::unsupportedEntry:
        return QStringLiteral("unsupportedEntry");
    case Code::corrupt:
        return QStringLiteral("corrupt");
    }
    return QString();
}

const char* ZipError::what() const noexcept {
    switch (code_) {
    case Code::notAZip:
        return "not a ZIP archive";
    case Code::unsupportedZip64:
        return "ZIP64 archives are not supported";
    case Code::directoryTooLarge:
        return "too large";
    case Code::unsupportedEntry:
        return "member cannot be extracted";
    case Code::corrupt:
        return "corrupt ZIP archive";
    }
    return "ZIP error";
}

// ---- CRC32 ----------------------------------------------------------------------------------

namespace CRC32 {

quint32 update(quint32 crc, const char* data, qint64 length) {
    return quint32(::crc32_z(crc, reinterpret_cast<const Bytef*>(data), size_t(length)));
}

quint32 checksum(const QByteArray& data) {
    return update(0, data.constData(), data.size());
}

} // namespace CRC32

// ---- reader ---------------------------------------------------------------------------------

namespace ZipArchiveReader {

namespace {

using Code = ZipError::Code;

constexpr quint32 kEndSignature = 0x06054B50;
constexpr quint32 kCentralSignature = 0x02014B50;
constexpr quint32 kLocalSignature = 0x04034B50;
constexpr qint64 kEndRecordSize = 22;
constexpr qint64 kMaxTail = kEndRecordSize + 0xFFFF;
constexpr qint64 kCentralHeaderSize = 46;
constexpr qint64 kLocalHeaderSize = 30;

quint16 u16(const char* p) {
    const auto* b = reinterpret_cast<const uchar*>(p);
    return quint16(b[0] | (b[1] << 8));
}

quint32 u32(const char* p) {
    const auto* b = reinterpret_cast<const uchar*>(p);
    return quint32(b[0]) | (quint32(b[1]) << 8) | (quint32(b[2]) << 16) | (quint32(b[3]) << 24);
}

void readExactly(const ZipReadFunction& read, qint64 lower, qint64 upper, QByteArray& into) {
    Cancellation::checkpoint();
    read(ByteRange{lower, upper}, into);
    if (into.size() != upper - lower)
        throw ZipError(Code::corrupt);
}

QByteArray readExactly(const ZipReadFunction& read, qint64 lower, qint64 upper) {
    QByteArray bytes;
    readExactly(read, lower, upper, bytes);
    return bytes;
}

/// Feeds raw DEFLATE data through zlib, handing each piece of output to a sink.
class Inflater {
public:
    Inflater() {
        std::memset(&stream_, 0, sizeof(stream_));
        if (inflateInit2(&stream_, -MAX_WBITS) != Z_OK)
            throw ZipError(Code::corrupt);
    }
    ~Inflater() { inflateEnd(&stream_); }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    /// Inflates one piece of input; returns true once the stream has ended.
    template <typename Sink> bool feed(const char* input, qint64 length, Sink&& sink) {
        stream_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input));
        stream_.avail_in = uInt(length);
        for (;;) {
            stream_.next_out = reinterpret_cast<Bytef*>(buffer_);
            stream_.avail_out = sizeof(buffer_);
            const int status = inflate(&stream_, Z_NO_FLUSH);
            const qint64 produced = qint64(sizeof(buffer_)) - stream_.avail_out;
            if (produced > 0)
                sink(buffer_, produced);
            if (status == Z_STREAM_END)
                return true;
            if (status == Z_BUF_ERROR && stream_.avail_in == 0)
                return false; // needs more input
            if (status != Z_OK)
                throw ZipError(Code::corrupt);
            if (stream_.avail_in == 0 && stream_.avail_out != 0)
                return false;
        }
    }

private:
    z_stream stream_;
    char buffer_[256 * 1024];
};

QStringList components(const QString& memberPath) {
    QString p = memberPath;
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return p.split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

} // namespace

} // namespace ZipArchiveReader

/// Walks a central directory block by block, adding one compact record per member: only one
/// block (and the unfinished record it ends in) is held at a time.
struct ZipDirectoryWalk {
    ZipDirectoryWalk(const ZipReadFunction& read, qint64 start, qint64 size, qint64 prefix,
                     qint64 archiveSize)
        : read(read), start(start), size(size), prefix(prefix), archiveSize(archiveSize) {}

    const ZipReadFunction& read;
    const qint64 start;  // where the directory starts in the archive
    const qint64 size;   // its length
    const qint64 prefix; // bytes in front of the archive
    const qint64 archiveSize;

    QByteArray window; // directory bytes [windowStart, windowStart + window.size())
    qint64 windowStart = 0;
    QByteArray block; // the buffer handed to each read

    /// The directory bytes [from, from + length), from + length ≤ size; positions never go
    /// back. Bytes the window does not hold yet are read, a block at a time.
    const char* bytesAt(qint64 from, qint64 length) {
        using namespace ZipArchiveReader;
        const qint64 windowEnd = windowStart + window.size();
        if (from >= windowStart && from + length <= windowEnd)
            return window.constData() + (from - windowStart);
        const qint64 kept = from < windowEnd ? windowEnd - from : 0;
        const qint64 readFrom = from + kept;
        const qint64 readTo =
            std::min(size, std::max(from + length, readFrom + directoryBlockSize));
        readExactly(read, start + readFrom, start + readTo, block);
        if (kept == 0) {
            window.swap(block); // the old window's buffer serves the next read
        } else {
            std::memmove(window.data(), window.constData() + (from - windowStart), size_t(kept));
            window.truncate(kept);
            window.append(block);
        }
        windowStart = from;
        return window.constData();
    }

    ZipEntries run(quint16 announced) {
        using namespace ZipArchiveReader;
        ZipEntries list;
        list.archiveSize_ = archiveSize;
        // At most one record per header's fixed part, and the paths are part of the directory.
        // The records' reservation is kept as it is: QList shrinks by copying, which would
        // hold the records twice at the peak, and the part never written was never touched.
        // The paths shrink in place at the end.
        list.records_.reserve(size / kCentralHeaderSize);
        list.paths_.reserve(size);
        // DOS stamps repeat a lot within one archive; converting one is the costly part.
        QHash<quint32, quint32> dates; // stamp → index in the list's table of dates
        qint64 pos = 0;
        while (size - pos >= kCentralHeaderSize) {
            const char* h = bytesAt(pos, kCentralHeaderSize);
            if (u32(h) != kCentralSignature)
                break;
            const qint64 nameLength = u16(h + 28);
            const qint64 extraLength = u16(h + 30);
            const qint64 commentLength = u16(h + 32);
            if (pos + kCentralHeaderSize + nameLength > size)
                throw ZipError(ZipError::Code::corrupt);
            h = bytesAt(pos, kCentralHeaderSize + nameLength);
            const QByteArrayView path(h + kCentralHeaderSize, nameLength);
            const quint32 stamp = (quint32(u16(h + 14)) << 16) | u16(h + 12);
            auto cached = dates.constFind(stamp);
            if (cached == dates.constEnd()) {
                const std::optional<QDateTime> date =
                    dosDate(quint16(stamp & 0xFFFF), quint16(stamp >> 16));
                list.dates_.append(date ? date->toMSecsSinceEpoch() : ZipEntries::kNoDate);
                cached = dates.insert(stamp, quint32(list.dates_.size() - 1));
            }
            const bool isEncrypted = (u16(h + 8) & 0x1) != 0;
            const qint64 offset = prefix + u32(h + 42);
            if (offset <= 0xFFFFFFFFLL) {
                ZipEntries::Record record{};
                record.compressedSize = u32(h + 20);
                record.uncompressedSize = u32(h + 24);
                record.localHeaderOffset = quint32(offset);
                record.crc32 = u32(h + 16);
                record.date = *cached;
                record.method = u16(h + 10);
                record.flags = isEncrypted ? ZipEntries::kEncrypted : 0;
                list.appendRecord(path, record);
            } else { // bytes in front of an archive that ends past 4 GiB
                list.appendFields(path, ZipEntries::Fields{u32(h + 20), u32(h + 24), offset,
                                                           archiveSize, list.dates_.at(*cached),
                                                           u32(h + 16), u16(h + 10), isEncrypted});
            }
            pos += kCentralHeaderSize + nameLength + extraLength + commentLength;
        }
        // A directory that holds fewer members than its end record announces is damaged; a
        // list cut short without a word would hide members.
        if (list.size() < announced)
            throw ZipError(ZipError::Code::corrupt);
        list.paths_.squeeze();
        return list;
    }
};

namespace ZipArchiveReader {

qsizetype lastIndex(const QByteArray& needle, const QByteArray& haystack, qsizetype from) {
    if (needle.isEmpty() || haystack.size() < needle.size())
        return -1;
    from = std::min(from, haystack.size() - needle.size());
    for (qsizetype i = from; i >= 0; --i)
        if (std::memcmp(haystack.constData() + i, needle.constData(), size_t(needle.size())) == 0)
            return i;
    return -1;
}

ZipEntries entries(qint64 archiveSize, const ZipReadFunction& read) {
    if (archiveSize < kEndRecordSize)
        throw ZipError(Code::notAZip);
    const qint64 tailLength = std::min(archiveSize, kMaxTail);
    // The search runs over the bytes actually returned; a short answer is not an archive we
    // can trust (the size we were given is stale, or the back end cut the range).
    const QByteArray tail = readExactly(read, archiveSize - tailLength, archiveSize);

    const char signature[4] = {0x50, 0x4B, 0x05, 0x06};
    const qsizetype at =
        lastIndex(QByteArray::fromRawData(signature, 4), tail, tail.size() - kEndRecordSize);
    if (at < 0)
        throw ZipError(Code::notAZip);
    const char* end = tail.constData() + at;
    Q_ASSERT(u32(end) == kEndSignature);
    const quint16 totalRecords = u16(end + 10);
    const quint32 directorySize = u32(end + 12);
    const quint32 directoryOffset = u32(end + 16);
    if (totalRecords == 0xFFFF || directorySize == 0xFFFFFFFF || directoryOffset == 0xFFFFFFFF)
        throw ZipError(Code::unsupportedZip64);
    if (directorySize > maxDirectorySize)
        throw ZipError(Code::directoryTooLarge);
    // Bytes in front of the archive (a self-extractor, a script stub) shift everything the
    // records point at: the directory ends where the end record starts, so the difference is
    // the length of that prefix, to be added to every offset the records hold.
    const qint64 endAt = archiveSize - tailLength + at;
    const qint64 prefix = endAt - (qint64(directoryOffset) + qint64(directorySize));
    if (prefix < 0)
        throw ZipError(Code::corrupt);
    if (directorySize == 0) {
        if (totalRecords != 0)
            throw ZipError(Code::corrupt);
        return ZipEntries();
    }

    const qint64 directoryStart = prefix + directoryOffset;
    return ZipDirectoryWalk(read, directoryStart, directorySize, prefix, archiveSize)
        .run(totalRecords);
}

void extractTo(const ZipEntry& entry, const ZipReadFunction& read, QIODevice& out) {
    if (!entry.canExtract())
        throw ZipError(Code::unsupportedEntry);
    // Sizes come from the archive: bound them before anything is read or allocated.
    if (entry.uncompressedSize > maxMemberSize || entry.compressedSize > maxMemberSize)
        throw ZipError(Code::directoryTooLarge);
    if (entry.uncompressedSize < 0 || entry.compressedSize < 0 || entry.localHeaderOffset < 0)
        throw ZipError(Code::corrupt);
    if (entry.method == 0 && entry.compressedSize != entry.uncompressedSize)
        throw ZipError(Code::corrupt);
    // The offsets come from the archive too: a member that would lie past the archive's end
    // fails here, not with a range request beyond the end of the remote file. Written as
    // differences, so that no record, however large, overflows the arithmetic.
    if (entry.localHeaderOffset > entry.archiveSize - kLocalHeaderSize - entry.compressedSize)
        throw ZipError(Code::corrupt);
    // What is left after the local header's fixed part: room for its name, extra field and
    // the member's data.
    const qint64 room = entry.archiveSize - entry.localHeaderOffset - kLocalHeaderSize;

    const QByteArray header =
        readExactly(read, entry.localHeaderOffset, entry.localHeaderOffset + kLocalHeaderSize);
    if (u32(header.constData()) != kLocalSignature)
        throw ZipError(Code::corrupt);
    const qint64 variable = qint64(u16(header.constData() + 26)) + u16(header.constData() + 28);
    if (variable + entry.compressedSize > room)
        throw ZipError(Code::corrupt);
    const qint64 dataStart = entry.localHeaderOffset + kLocalHeaderSize + variable;

    quint32 crc = 0;
    qint64 written = 0;
    auto deliver = [&](const char* bytes, qint64 length) {
        if (written + length > entry.uncompressedSize)
            throw ZipError(Code::corrupt); // more output than recorded
        crc = CRC32::update(crc, bytes, length);
        if (out.write(bytes, length) != length)
            throw StorageError(StorageError::Code::localWriteFailed);
        written += length;
    };

    if (entry.method == 8 && entry.uncompressedSize == 0) {
        // Nothing to decode; the CRC of no bytes is 0.
    } else {
        // One buffer for every chunk of the member: a read that can reuse it touches no new
        // memory after the first chunk.
        QByteArray chunk;
        std::optional<Inflater> inflater;
        if (entry.method == 8)
            inflater.emplace();
        bool ended = false;
        for (qint64 offset = 0; offset < entry.compressedSize && !ended;) {
            const qint64 n = std::min(extractChunkSize, entry.compressedSize - offset);
            readExactly(read, dataStart + offset, dataStart + offset + n, chunk);
            if (inflater)
                ended = inflater->feed(chunk.constData(), chunk.size(), deliver);
            else
                deliver(chunk.constData(), chunk.size());
            offset += n;
        }
    }
    if (written != entry.uncompressedSize || crc != entry.crc32)
        throw ZipError(Code::corrupt);
}

QByteArray extract(const ZipEntry& entry, const ZipReadFunction& read) {
    class Sink : public QIODevice {
    public:
        QByteArray bytes;
        qint64 readData(char*, qint64) override { return -1; }
        qint64 writeData(const char* data, qint64 length) override {
            bytes.append(data, length);
            return length;
        }
    } sink;
    sink.open(QIODevice::WriteOnly);
    extractTo(entry, read, sink);
    return std::move(sink.bytes);
}

std::optional<QDateTime> dosDate(quint16 time, quint16 date) {
    const int year = ((date >> 9) & 0x7F) + 1980;
    const int month = (date >> 5) & 0x0F;
    const int day = date & 0x1F;
    const int hour = (time >> 11) & 0x1F;
    const int minute = (time >> 5) & 0x3F;
    const int second = (time & 0x1F) * 2;
    if (month < 1 || month > 12 || day < 1 || day > 31)
        return std::nullopt;
    // Lenient like a calendar built from components: 31 February is 3 March, 24:00 the next
    // midnight. The fields carry no zone: they are local time. The date and the time of day
    // are put together first and only then placed in the zone, so that a day on which the
    // clocks change (or midnight does not exist) still gives the wall-clock time recorded.
    const qint64 seconds = qint64(hour) * 3600 + minute * 60 + second;
    const QDate first(year, month, 1);
    const QDate onDay = first.addDays(day - 1 + seconds / 86400);
    const QTime clock = QTime(0, 0).addSecs(int(seconds % 86400));
    const QTimeZone zone = QTimeZone::systemTimeZone();
    const QDateTime local(onDay, clock, zone);
    if (local.isValid())
        return local.toUTC();
    // A time the clocks skipped: read it with the offset in force before the jump, which
    // moves it forward by the gap, as a calendar does.
    const QDateTime asUTC(onDay, clock, Qt::UTC);
    if (!asUTC.isValid())
        return std::nullopt;
    return asUTC.addSecs(-zone.offsetFromUtc(asUTC.addDays(-1)));
}

QString safeFileName(const QString& memberPath) {
    return LocalFileName::safe(memberPath);
}

QString safeRelativePath(const QString& memberPath) {
    QStringList kept;
    const QStringList parts = components(memberPath);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        QString part = parts[i];
        if (i == 0 && part.size() == 2 && part[1] == QLatin1Char(':'))
            continue; // a drive letter
        part = LocalFileName::cleanComponent(part);
        if (!part.isEmpty())
            kept.append(part);
    }
    return kept.join(QLatin1Char('/'));
}

} // namespace ZipArchiveReader

} // namespace tw
