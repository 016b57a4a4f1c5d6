#pragma once

#include "StorageCore/Domain/StorageProvider.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <exception>
#include <functional>
#include <optional>

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

/// Returns the bytes of a half-open range of the archive (a ranged read of the remote file).
/// Its failures pass through the reader unchanged.
using ZipReadFunction = std::function<QByteArray(ByteRange)>;

/// Lists and extracts members of a ZIP archive through ranged reads only: the tail, the
/// central directory, one member's local header and data. Stored and DEFLATE members, one
/// disk, no ZIP64, no encryption. Stateless; any thread; checks the current task's
/// cancellation between reads.
namespace ZipArchiveReader {

/// The central directory is read whole and capped at 16 MiB.
constexpr qint64 maxDirectorySize = 0x1000000;
/// The largest member extracted (compressed or uncompressed).
constexpr qint64 maxMemberSize = 0x80000000LL;
/// Member data is read and inflated in ranged reads of at most this size.
constexpr qint64 extractChunkSize = 8 * 1024 * 1024;

/// The members in central-directory order. Two reads: the tail, then the directory. Bytes in
/// front of the archive are allowed (offsets are shifted by their length); a directory with
/// fewer members than the end record announces is `corrupt`.
QList<ZipEntry> entries(qint64 archiveSize, const ZipReadFunction& read);

/// The member's uncompressed bytes, checked against its size and CRC-32. A member whose
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
