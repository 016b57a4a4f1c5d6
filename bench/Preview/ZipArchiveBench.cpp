// ZIP reader speed against Info-ZIP's unzip on the same files, read through ranged reads of a
// local file:
//   - listing an archive of 100,000 members (made with Python's zipfile) vs `unzip -Z1`;
//   - extracting a 200 MB deflated member (made with zip) vs `unzip -p`.
// Sizes: TW_BENCH_ZIP_MEMBERS (default 100000), TW_BENCH_ZIP_MB (default 200).
// The counter vs_unzip is unzip's time divided by ours (above 1: we are faster).
#include "StorageCore/Preview/ZipArchive.h"
#include "bench/QtBenchmarkMain.h"

#include <QDir>
#include <QFile>
#include <QIODevice>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <random>

using namespace tw;

namespace {

int envInt(const char* name, int fallback) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

QTemporaryDir& workDir() {
    static QTemporaryDir dir;
    return dir;
}

/// Ranged reads of a local file with pread, as a back end's read would deliver them.
class LocalFile {
public:
    explicit LocalFile(const QString& path)
        : fd_(::open(QFile::encodeName(path).constData(), O_RDONLY)) {}
    ~LocalFile() { ::close(fd_); }
    qint64 size() const { return ::lseek(fd_, 0, SEEK_END); }
    ZipReadFunction read() const {
        return [fd = fd_](ByteRange range) {
            QByteArray bytes(range.length(), Qt::Uninitialized);
            qint64 done = 0;
            while (done < bytes.size()) {
                const ssize_t n = ::pread(fd, bytes.data() + done, size_t(bytes.size() - done),
                                          off_t(range.lower + done));
                if (n <= 0)
                    break;
                done += n;
            }
            bytes.truncate(done);
            return bytes;
        };
    }

private:
    int fd_;
};

double secondsOf(const std::function<void()>& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

/// Best of three runs of a shell command.
double commandSeconds(const QString& command) {
    double best = 1e9;
    for (int i = 0; i < 3; ++i)
        best = std::min(best, secondsOf([&] {
                            if (std::system(command.toLocal8Bit().constData()) != 0)
                                qFatal("command failed: %s", qPrintable(command));
                        }));
    return best;
}

const QString& manyMembersArchive() {
    static const QString path = [] {
        const QString file = workDir().filePath("many.zip");
        const int members = envInt("TW_BENCH_ZIP_MEMBERS", 100000);
        // Above 65535 members zipfile writes ZIP64 end records, which the reader does not
        // read; the tail is rewritten as older tools write it: one classic end record whose
        // member count wraps at 65536 (the reader walks the directory by its size).
        const QString script = QStringLiteral(
            "import zipfile,sys,struct\n"
            "with zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_DEFLATED) as z:\n"
            "  for i in range(int(sys.argv[2])):\n"
            "    z.writestr(f'folder{i//1000:03d}/file-{i:06d}.txt', f'member {i}\\n')\n"
            "d=open(sys.argv[1],'rb').read()\n"
            "e=d.rfind(b'PK\\x05\\x06')\n"
            "n=int(sys.argv[2])\n"
            "size,off=struct.unpack('<II',d[e+12:e+20])\n"
            "start=e\n"
            "if d[e-20:e-16]==b'PK\\x06\\x07': start=struct.unpack('<Q',d[e-12:e-4])[0]\n"
            "end=struct.pack('<4s4H2LH',b'PK\\x05\\x06',0,0,n%65536,n%65536,size,off,0)\n"
            "open(sys.argv[1],'wb').write(d[:start]+end)\n");
        if (QProcess::execute("python3", {"-c", script, file, QString::number(members)}) != 0)
            qFatal("python3 failed");
        return file;
    }();
    return path;
}

const QString& bigMemberArchive() {
    static const QString path = [] {
        const qint64 bytes = qint64(envInt("TW_BENCH_ZIP_MB", 200)) * 1000 * 1000;
        // Text-like data: words from a small vocabulary, compressible about 3:1.
        const QString source = workDir().filePath("big.txt");
        {
            QFile out(source);
            out.open(QIODevice::WriteOnly);
            std::mt19937 random(42);
            const char* words[] = {"preview ", "archive ",  "member ", "deflate ", "storage ",
                                   "cloud ",   "kelvanor ", "range ",  "read ",    "\n"};
            QByteArray block;
            while (out.size() < bytes) {
                block.clear();
                for (int i = 0; i < 100000; ++i)
                    block.append(words[random() % 10]);
                out.write(block.left(bytes - out.size()));
            }
        }
        const QString file = workDir().filePath("big.zip");
        QProcess zip;
        zip.setWorkingDirectory(workDir().path());
        zip.start("zip", {"-q", "-X", "big.zip", "big.txt"});
        if (!zip.waitForFinished(-1) || zip.exitCode() != 0)
            qFatal("zip failed");
        QFile::remove(source);
        return file;
    }();
    return path;
}

/// Counts and discards what it is given.
class NullDevice : public QIODevice {
public:
    NullDevice() { open(QIODevice::WriteOnly); }
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64 length) override { return length; }
};

void BM_ListManyMembers(benchmark::State& state) {
    const QString path = manyMembersArchive();
    static const double unzip = commandSeconds("unzip -Z1 '" + path + "' > /dev/null");
    LocalFile file(path);
    qsizetype count = 0;
    double total = 0;
    for (auto _ : state) {
        total +=
            secondsOf([&] { count = ZipArchiveReader::entries(file.size(), file.read()).size(); });
        benchmark::DoNotOptimize(count);
    }
    state.counters["members"] = double(count);
    state.counters["unzip_ms"] = unzip * 1000;
    state.counters["vs_unzip"] = unzip / (total / double(state.iterations()));
}
BENCHMARK(BM_ListManyMembers)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ExtractBigMember(benchmark::State& state) {
    const QString path = bigMemberArchive();
    static const double unzip = commandSeconds("unzip -p '" + path + "' big.txt > /dev/null");
    LocalFile file(path);
    const QList<ZipEntry> entries = ZipArchiveReader::entries(file.size(), file.read());
    const ZipEntry entry = entries.at(0);
    double total = 0;
    for (auto _ : state) {
        NullDevice sink;
        total += secondsOf([&] { ZipArchiveReader::extractTo(entry, file.read(), sink); });
    }
    const double ours = total / double(state.iterations());
    state.counters["MB_per_s"] = double(entry.uncompressedSize) / 1e6 / ours;
    state.counters["unzip_MB_per_s"] = double(entry.uncompressedSize) / 1e6 / unzip;
    state.counters["vs_unzip"] = unzip / ours;
}
BENCHMARK(BM_ExtractBigMember)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

TW_QT_BENCHMARK_MAIN()
