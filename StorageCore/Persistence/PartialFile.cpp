#include "StorageCore/Persistence/PartialFile.h"

#include "StorageCore/Domain/StorageError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QUuid>

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tw {

Q_LOGGING_CATEGORY(lcPartial, "Persistence")

namespace {

const QString kPrefix = QStringLiteral(".kelvanor-");
const QString kSuffix = QStringLiteral(".part");

struct Journal {
    std::mutex mutex;
    QString path;
    bool loaded = false;
    QSet<QString> folders; // recorded (read from the file or appended by this process)
};

Journal& journal() {
    static Journal* instance = new Journal; // used by workers that may outlive main()
    return *instance;
}

QStringList readJournal(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList folders;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            folders.append(QString::fromUtf8(line));
    }
    return folders;
}

/// Records folder in the journal (once per process and folder). Appends one line with
/// O_APPEND, so processes that record at the same time never mix their lines.
void record(const QString& folder) {
    Journal& j = journal();
    std::lock_guard lock(j.mutex);
    if (j.path.isEmpty())
        return;
    if (!j.loaded) {
        j.loaded = true;
        for (const QString& known : readJournal(j.path))
            j.folders.insert(known);
    }
    if (j.folders.contains(folder))
        return;
    QDir().mkpath(QFileInfo(j.path).absolutePath());
    const int fd = ::open(QFile::encodeName(j.path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        qCWarning(lcPartial) << "the journal of partial files cannot be written";
        return;
    }
    const QByteArray line = folder.toUtf8() + '\n';
    const bool written = ::write(fd, line.constData(), size_t(line.size())) == line.size();
    ::close(fd);
    if (written)
        j.folders.insert(folder);
}

bool writeAll(int fd, const char* data, qint64 size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size_t(size));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

} // namespace

bool removeIfUnlocked(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return false;
    bool removed = false;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        // The name must still be the file that was locked (not one made again meanwhile).
        struct stat opened {};
        struct stat named {};
        if (::fstat(fd, &opened) == 0 && ::lstat(name.constData(), &named) == 0 &&
            S_ISREG(opened.st_mode) && opened.st_dev == named.st_dev &&
            opened.st_ino == named.st_ino)
            removed = ::unlink(name.constData()) == 0;
    }
    ::close(fd);
    return removed;
}

PartialFile::PartialFile(QString destination) : destination_(std::move(destination)) {
    const QString folder = QFileInfo(destination_).absolutePath();
    record(folder);
    path_ = folder + QLatin1Char('/') + kPrefix +
            QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + kSuffix;
    fd_ =
        ::open(QFile::encodeName(path_).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd_ < 0)
        throw StorageError(StorageError::Code::localWriteFailed);
    // Held until the file is renamed or deleted: a clean-up never takes a file in use.
    ::flock(fd_, LOCK_EX | LOCK_NB);
}

PartialFile::~PartialFile() {
    discard();
}

bool PartialFile::write(const char* data, qint64 size) {
    return fd_ >= 0 && writeAll(fd_, data, size);
}

bool PartialFile::commit() {
    if (fd_ < 0)
        return false;
    const QByteArray from = QFile::encodeName(path_);
    // The usual mode before the file appears under its name; the rename happens under the
    // lock, so no clean-up can take the file in between.
    const bool done = ::fchmod(fd_, mode_t(finalMode_.value_or(defaultFileMode()))) == 0 &&
                      ::rename(from.constData(), QFile::encodeName(destination_).constData()) == 0;
    if (!done)
        ::unlink(from.constData());
    ::close(fd_);
    fd_ = -1;
    return done;
}

void PartialFile::discard() {
    if (fd_ < 0)
        return;
    ::unlink(QFile::encodeName(path_).constData());
    ::close(fd_);
    fd_ = -1;
}

bool PartialFile::isPartialName(const QString& fileName) {
    static const QRegularExpression pattern(QStringLiteral(
        "^\\.kelvanor-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.part$"));
    return pattern.match(fileName).hasMatch();
}

QString PartialFile::journalPath() {
    Journal& j = journal();
    std::lock_guard lock(j.mutex);
    return j.path;
}

void PartialFile::setJournalPath(const QString& path) {
    Journal& j = journal();
    std::lock_guard lock(j.mutex);
    j.path = path;
    j.loaded = false;
    j.folders.clear();
}

int PartialFile::removeLeftoversIn(const QString& folder) {
    int removed = 0;
    const QStringList names =
        QDir(folder).entryList({kPrefix + QLatin1Char('*') + kSuffix},
                               QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks);
    for (const QString& name : names) {
        if (isPartialName(name) && removeIfUnlocked(folder + QLatin1Char('/') + name))
            ++removed;
    }
    return removed;
}

int PartialFile::removeLeftovers() {
    const QString path = journalPath();
    if (path.isEmpty())
        return 0;
    int removed = 0;
    QStringList kept;
    for (const QString& folder : readJournal(path)) {
        if (kept.contains(folder) || !QFileInfo(folder).isDir())
            continue;
        kept.append(folder);
        removed += removeLeftoversIn(folder);
    }
    // The journal keeps the folders that still exist.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        for (const QString& folder : kept)
            file.write(folder.toUtf8() + '\n');
        file.commit();
    }
    if (removed > 0)
        qCInfo(lcPartial) << "removed" << removed << "partial files left by an earlier run";
    return removed;
}

unsigned PartialFile::defaultFileMode() {
    // The umask cannot be read without changing it (a race with other threads), so take it
    // from the kernel's status file; 022 where that is not available.
    unsigned mask = 022;
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        // Read whole: a file of /proc reports no size, so atEnd() would answer at once.
        const QList<QByteArray> lines = status.readAll().split('\n');
        for (const QByteArray& line : lines) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint value = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    mask = value & 0777;
                break;
            }
        }
    }
    return 0666 & ~mask;
}

} // namespace tw
