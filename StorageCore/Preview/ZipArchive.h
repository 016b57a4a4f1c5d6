#pragma once

#include "StorageCore/Domain/StorageProvider.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <compare>
#include <exception>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <optional>
#include <type_traits>

class QIODevice;

namespace tw {

/// One member of a ZIP archive, as its central-directory header describes it.
struct ZipEntry {
    QString path; ///< as stored; directories end in "/". Never a safe local path as it stands.
    qint64 compressedSize = 0;
    qint64 uncompressedSize = 0;
    quint16 method = 0; ///< 0 stored, 8 DEFLATE; others are listed but not extractable
    quint32 crc32 = 0;
    std::optional<QDateTime> modifiedAt; ///< UTC; none when the DOS fields are invalid
    qint64 localHeaderOffset = 0;
    bool isEncrypted = false;
    /// The size of the archive the member was listed from: its local header and data must
    /// end there, and extraction reads nothing past it.
    qint64 archiveSize = 0;

    /// The local header offset, ":" and the path: unique even when two members share a path.
    QString id() const;
    /// The last path component, without a trailing "/".
    QString name() const;
    bool isDirectory() const { return path.endsWith(QLatin1Char('/')); }
    bool canExtract() const {
        return !isDirectory() && !isEncrypted && (method == 0 || method == 8);
    }

    bool operator==(const ZipEntry&) const = default;
};
size_t qHash(const ZipEntry& entry, size_t seed = 0) noexcept;

/// Why an archive cannot be listed or a member extracted.
class ZipError : public std::exception {
public:
    enum class Code { notAZip, unsupportedZip64, directoryTooLarge, unsupportedEntry, corrupt };

    ZipError(Code code) : code_(code) {} // NOLINT: implicit, `throw ZipError(Code::corrupt)`
    Code code() const { return code_; }
    static QString caseName(Code code);
    const char* what() const noexcept override;
    // Written out: std::exception has no operator==, so a defaulted one would be deleted.
    bool operator==(const ZipError& other) const { return code_ == other.code_; }

private:
    Code code_;
};

/// A ranged read of the archive (the remote file). Made from either form of read: one that
/// returns the bytes of a half-open range, or one that puts them into a buffer the reader
/// hands it again for every read, so that a local source can reuse its memory. Failures of
/// the read pass through the reader unchanged.
class ZipReadFunction {
public:
    using Returning = std::function<QByteArray(ByteRange)>;
    using Filling = std::function<void(ByteRange, QByteArray&)>;

    ZipReadFunction() = default;
    template <typename F>
    requires std::is_invocable_r_v<QByteArray, F, ByteRange>
    ZipReadFunction(F f) // NOLINT: implicit, a lambda is a read function
        : fill_([f = std::move(f)](ByteRange range, QByteArray& into) { into = f(range); }) {}
    template <typename F>
    requires(!std::is_invocable_r_v<QByteArray, F, ByteRange> &&
             std::is_invocable_v<F, ByteRange, QByteArray&>)
        ZipReadFunction(F f) // NOLINT: implicit, a lambda is a read function
        : fill_(std::move(f)) {}

    /// The bytes of the range, in `into` (its earlier contents are replaced).
    void operator()(ByteRange range, QByteArray& into) const { fill_(range, into); }
    /// The bytes of the range.
    QByteArray operator()(ByteRange range) const {
        QByteArray bytes;
        fill_(range, bytes);
        return bytes;
    }

private:
    Filling fill_;
};

/// The members of an archive in central-directory order, held compactly: a 32-byte record per
/// member (sizes, offset and CRC-32 as the central directory stores them, the date as an index
/// into a table of the distinct dates), every path's UTF-8 bytes in one shared buffer, and the
/// archive's size once for the list. A member that does not fit a record (a size or offset
/// beyond 32 bits, a path over 65,535 bytes, another archive's size) is kept whole beside the
/// records. Members are handed out as ZipEntry values, made on access.
class ZipEntries {
public:
    class const_iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = ZipEntry;
        using difference_type = qsizetype;
        using pointer = void;
        using reference = ZipEntry;

        const_iterator() = default;
        const_iterator(const ZipEntries* list, qsizetype at) : list_(list), at_(at) {}
        ZipEntry operator*() const { return list_->at(at_); }
        ZipEntry operator[](qsizetype n) const { return list_->at(at_ + n); }
        const_iterator& operator++() { return ++at_, *this; }
        const_iterator operator++(int) { return {list_, at_++}; }
        const_iterator& operator--() { return --at_, *this; }
        const_iterator operator--(int) { return {list_, at_--}; }
        const_iterator& operator+=(qsizetype n) { return at_ += n, *this; }
        const_iterator& operator-=(qsizetype n) { return at_ -= n, *this; }
        const_iterator operator+(qsizetype n) const { return {list_, at_ + n}; }
        const_iterator operator-(qsizetype n) const { return {list_, at_ - n}; }
        qsizetype operator-(const const_iterator& other) const { return at_ - other.at_; }
        bool operator==(const const_iterator& other) const { return at_ == other.at_; }
        auto operator<=>(const const_iterator& other) const { return at_ <=> other.at_; }

    private:
        const ZipEntries* list_ = nullptr;
        qsizetype at_ = 0;
    };
    using value_type = ZipEntry;

    ZipEntries() = default;
    ZipEntries(std::initializer_list<ZipEntry> entries);

    qsizetype size() const { return records_.size(); }
    bool isEmpty() const { return records_.isEmpty(); }
    ZipEntry at(qsizetype i) const;
    ZipEntry operator[](qsizetype i) const { return at(i); }
    /// The member at i, or a default entry when i is out of range.
    ZipEntry value(qsizetype i) const { return i >= 0 && i < size() ? at(i) : ZipEntry(); }
    /// The stored bytes of a member's path (what ZipEntry::path decodes as UTF-8).
    QByteArrayView pathBytes(qsizetype i) const;
    bool isDirectory(qsizetype i) const;
    qint64 uncompressedSize(qsizetype i) const { return fields(i).uncompressedSize; }

    void append(const ZipEntry& entry);
    QList<ZipEntry> toList() const;

    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size()}; }

    bool operator==(const ZipEntries& other) const;

private:
    friend struct ZipDirectoryWalk;
    struct Record {
        quint32 compressedSize;
        quint32 uncompressedSize;
        quint32 localHeaderOffset;
        quint32 crc32;
        quint32 pathOffset; // into paths_; into wide_ for a member kept whole
        quint32 date;       // into dates_
        quint16 pathLength;
        quint16 method;
        quint8 flags; // kEncrypted, kWide
    };
    static_assert(sizeof(Record) == 32);
    static constexpr quint8 kEncrypted = 1;
    static constexpr quint8 kWide = 2;
    static constexpr qint64 kNoDate = std::numeric_limits<qint64>::min();

    /// Every field of a member but its path, widened.
    struct Fields {
        qint64 compressedSize;
        qint64 uncompressedSize;
        qint64 localHeaderOffset;
        qint64 archiveSize;
        qint64 modifiedMSecs; // kNoDate when none
        quint32 crc32;
        quint16 method;
        bool isEncrypted;
        bool operator==(const Fields&) const = default;
    };
    /// A member that does not fit a record, and its path's UTF-8 bytes.
    struct Wide {
        Fields fields;
        QByteArray path;
    };
    Fields fields(qsizetype i) const;
    /// Appends a member whose record is filled in but for pathOffset and pathLength; the path
    /// is at most 65,535 bytes long.
    void appendRecord(QByteArrayView path, Record record);
    /// Appends a member as a record when it fits one, kept whole beside the records otherwise.
    void appendFields(QByteArrayView path, const Fields& fields);
    /// The index in dates_ of a date, reusing the last one when it is the same.
    quint32 dateIndex(qint64 msecs);

    QList<Record> records_;
    QByteArray paths_;
    QList<qint64> dates_; // milliseconds since the epoch, or kNoDate
    QList<Wide> wide_;
    qint64 archiveSize_ = 0;
};

/// Lists and extracts members of a ZIP archive through ranged reads only: the tail, the
/// central directory, one member's local header and data. Stored and DEFLATE members, one
/// disk, no ZIP64, no encryption. Stateless; any thread; checks the current task's
/// cancellation between reads.
namespace ZipArchiveReader {

/// The central directory is capped at 16 MiB and read in blocks of at most this many bytes
/// (plus the unfinished record a block ends in), so a large directory is never held whole.
constexpr qint64 maxDirectorySize = 0x1000000;
constexpr qint64 directoryBlockSize = 1024 * 1024;
/// The largest member extracted (compressed or uncompressed).
constexpr qint64 maxMemberSize = 0x80000000LL;
/// Member data is read and inflated in ranged reads of at most this size.
constexpr qint64 extractChunkSize = 8 * 1024 * 1024;

/// The members in central-directory order. Reads the tail, then the directory block by block
/// (one read for a directory up to directoryBlockSize). Bytes in front of the archive are
/// allowed (offsets are shifted by their length); a directory with fewer members than the
/// end record announces is `corrupt`.
ZipEntries entries(qint64 archiveSize, const ZipReadFunction& read);

/// The member's uncompressed bytes, checked against its size and CRC-32. Member data is read
/// into one buffer that is handed to every read of the member. A member whose
/// local header or data would reach past the archive's size is `corrupt` before anything
/// beyond the end is asked for.
QByteArray extract(const ZipEntry& entry, const ZipReadFunction& read);

/// As extract(), but writes the bytes to `out` as they are inflated, so the member is never
/// held whole in memory. On a failure part of the member may have been written: write to a
/// QSaveFile and commit only on success.
void extractTo(const ZipEntry& entry, const ZipReadFunction& read, QIODevice& out);

/// The date of MS-DOS time and date fields, read in the local time zone, as UTC; none when
/// the month or day is out of range. Out-of-range days, hours, minutes and seconds roll over.
std::optional<QDateTime> dosDate(quint16 time, quint16 date);

/// A plain file name for a member, to propose or create in a local folder: the last component
/// of its path (either separator) made safe by the one rule for names from elsewhere
/// (LocalFileName::safe: no control or format characters, at most 255 bytes of UTF-8 cut
/// between characters, no leading "~"; "." and ".." and empty names become "Untitled"). Member
/// paths are never used as local paths as they stand.
QString safeFileName(const QString& memberPath);

/// A relative path under a destination folder for a member: components split at "/" and "\",
/// empty, "." and ".." components and a drive prefix dropped, each component cleaned as by
/// safeFileName (LocalFileName::cleanComponent). Empty when nothing is left (the member must then
/// be skipped).
QString safeRelativePath(const QString& memberPath);

/// Position of the last occurrence of `needle` that starts at or before `from`, searching
/// backwards; -1 when there is none.
qsizetype lastIndex(const QByteArray& needle, const QByteArray& haystack, qsizetype from);

} // namespace ZipArchiveReader

namespace CRC32 {
/// The CRC-32 of ZIP, gzip and IEEE 802.3; 0 for empty data.
quint32 checksum(const QByteArray& data);
quint32 update(quint32 crc, const char* data, qint64 length);
} // namespace CRC32

} // namespace tw
