// ZIP reader speed and memory against Info-ZIP's unzip and raw zlib on the same files:
//   - listing an archive of 100,000 members (made with Python's zipfile) vs `unzip -Z1`:
//     time_of_unzip = our time ÷ unzip's, per sample pair (goal: at most 0.4), and
//     bytes_per_member = our peak resident set above the same tool's on a one-member
//     archive, per member (goal: at most 120); both peaks beside it;
//   - extracting a 200 MB deflated member (made with zip) vs `unzip -p`, and inside this
//     process vs a raw zlib inflate + CRC-32 of the same member's data read the same way
//     (one buffer, 8 MiB reads), the two in turn first: of_raw_inflate = raw time ÷ ours, per
//     pair (goal: at least 0.95).
// Like with like: both sides run as whole processes started the same way (ours is
// tw-zip-tool, the reader behind a small main), output to /dev/null, alternating order,
// TW_BENCH_SAMPLES samples each (default 5). Reported: medians with _min/_max, and vs_unzip,
// the median of the per-sample ratios unzip time / ours (above 1: we are faster), with its
// spread. The reader's own time inside one process is reported as inprocess_ms.
// Sizes: TW_BENCH_ZIP_MEMBERS (default 100000), TW_BENCH_ZIP_MB (default 200).
#include "StorageCore/Preview/ZipArchive.h"
#include "bench/Measure.h"
#include "bench/Preview/PreadRead.h"
#include "bench/QtBenchmarkMain.h"

#include <QDir>
#include <QFile>
#include <QIODevice>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <random>

using namespace tw;
using tw::bench::preadFunction;

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
    ZipReadFunction read() const { return preadFunction(fd_); }

private:
    int fd_;
};

double secondsOf(const std::function<void()>& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

/// Runs ours and unzip alternately, sample by sample; false when either failed. Each side's
/// peak resident set goes into its samples when asked for.
bool compare(benchmark::State& state, const QStringList& oursArguments,
             const QStringList& unzipArguments, bench::Comparison& comparison,
             bench::Samples* oursPeak = nullptr, bench::Samples* unzipPeak = nullptr) {
    const QString tool = bench::ownFolder() + QStringLiteral("/tw-zip-tool");
    const int samples = bench::sampleCount();
    for (int i = 0; i < samples; ++i) {
        bench::ProcessRun ours, theirs;
        if (i % 2 == 0) {
            ours = bench::runProcess(tool, oursArguments);
            theirs = bench::runProcess(QStringLiteral("unzip"), unzipArguments);
        } else {
            theirs = bench::runProcess(QStringLiteral("unzip"), unzipArguments);
            ours = bench::runProcess(tool, oursArguments);
        }
        if (!ours.ok || !theirs.ok) {
            state.SkipWithError(ours.ok ? "unzip failed" : "tw-zip-tool failed");
            return false;
        }
        comparison.add(ours.seconds, theirs.seconds);
        if (oursPeak)
            oursPeak->add(ours.peakRssMiB);
        if (unzipPeak)
            unzipPeak->add(theirs.peakRssMiB);
    }
    return true;
}

/// An archive of one small member: the tool's own baseline.
const QString& oneMemberArchive() {
    static const QString path = [] {
        const QString file = workDir().filePath("one.zip");
        const QString script =
            QStringLiteral("import zipfile,sys\n"
                           "with zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_DEFLATED) as z:\n"
                           "  z.writestr('folder000/file-000000.txt', 'member 0\\n')\n");
        if (QProcess::execute("python3", {"-c", script, file}) != 0)
            qFatal("python3 failed");
        return file;
    }();
    return path;
}

/// Our time ÷ the tool's, one ratio per sample pair.
bench::Samples shareOf(const bench::Comparison& comparison) {
    bench::Samples share;
    for (double ratio : comparison.ratio.values())
        share.add(1.0 / ratio);
    return share;
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
    LocalFile file(path);
    qsizetype count = 0;
    bench::Samples inProcess;
    bench::Comparison comparison;
    for (auto _ : state) {
        const double seconds =
            secondsOf([&] { count = ZipArchiveReader::entries(file.size(), file.read()).size(); });
        benchmark::DoNotOptimize(count);
        inProcess.add(seconds * 1000);
        state.SetIterationTime(seconds);
    }
    bench::Samples oursPeak, unzipPeak, baselinePeak, baselineUnzip;
    if (!compare(state, {"list", path}, {"-Z1", path}, comparison, &oursPeak, &unzipPeak))
        return;
    bench::Comparison baseline;
    if (!compare(state, {"list", oneMemberArchive()}, {"-Z1", oneMemberArchive()}, baseline,
                 &baselinePeak, &baselineUnzip))
        return;
    // Above the tool's own baseline, per member; the spread from our peaks' spread.
    bench::Samples perMember;
    for (double peak : oursPeak.values())
        perMember.add((peak - baselinePeak.median()) * 1024 * 1024 / double(count));
    state.counters["members"] = double(count);
    inProcess.report(state, "inprocess_ms");
    comparison.report(state, "unzip");
    shareOf(comparison).report(state, "time_of_unzip");
    state.counters["time_of_unzip_goal"] = 0.4;
    oursPeak.report(state, "ours_peak_rss_MiB");
    unzipPeak.report(state, "unzip_peak_rss_MiB");
    baselinePeak.report(state, "baseline_peak_rss_MiB");
    perMember.report(state, "bytes_per_member");
    state.counters["bytes_per_member_goal"] = 120;
}
BENCHMARK(BM_ListManyMembers)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

/// The same member's data inflated with zlib and checked with CRC-32 straight from the file:
/// read in the reader's chunk size into one buffer, output into one buffer.
double rawInflateSeconds(const LocalFile& file, const ZipEntry& entry) {
    const ZipReadFunction read = file.read();
    QByteArray header = read(ByteRange{entry.localHeaderOffset, entry.localHeaderOffset + 30});
    const auto u16 = [&](int at) {
        return qint64(uchar(header[at])) | (qint64(uchar(header[at + 1])) << 8);
    };
    const qint64 start = entry.localHeaderOffset + 30 + u16(26) + u16(28);
    return secondsOf([&] {
        z_stream stream{};
        inflateInit2(&stream, -MAX_WBITS);
        QByteArray input;
        static char output[256 * 1024];
        uLong crc = 0;
        for (qint64 offset = 0; offset < entry.compressedSize;) {
            const qint64 n =
                std::min(ZipArchiveReader::extractChunkSize, entry.compressedSize - offset);
            read(ByteRange{start + offset, start + offset + n}, input);
            stream.next_in = reinterpret_cast<Bytef*>(input.data());
            stream.avail_in = uInt(input.size());
            int status = Z_OK;
            do {
                stream.next_out = reinterpret_cast<Bytef*>(output);
                stream.avail_out = sizeof output;
                status = inflate(&stream, Z_NO_FLUSH);
                crc = crc32_z(crc, reinterpret_cast<Bytef*>(output),
                              sizeof output - stream.avail_out);
            } while (status == Z_OK && (stream.avail_in > 0 || stream.avail_out == 0));
            offset += n;
        }
        inflateEnd(&stream);
        benchmark::DoNotOptimize(crc);
    });
}

void BM_ExtractBigMember(benchmark::State& state) {
    const QString path = bigMemberArchive();
    LocalFile file(path);
    const ZipEntry entry = ZipArchiveReader::entries(file.size(), file.read()).at(0);
    bench::Samples inProcess, raw, ofRaw;
    bool rawFirst = true;
    for (auto _ : state) {
        NullDevice sink;
        // In turn first and second, so that neither side always finds the file's pages warm.
        double rawSeconds = 0, seconds = 0;
        const auto ours = [&] {
            seconds = secondsOf([&] { ZipArchiveReader::extractTo(entry, file.read(), sink); });
        };
        if (rawFirst)
            rawSeconds = rawInflateSeconds(file, entry);
        ours();
        if (!rawFirst)
            rawSeconds = rawInflateSeconds(file, entry);
        rawFirst = !rawFirst;
        inProcess.add(seconds * 1000);
        raw.add(rawSeconds * 1000);
        ofRaw.add(rawSeconds / seconds);
        state.SetIterationTime(seconds);
    }
    bench::Comparison comparison;
    if (!compare(state, {"extract", path, entry.path}, {"-p", path, entry.path}, comparison))
        return;
    const double megabytes = double(entry.uncompressedSize) / 1e6;
    state.counters["MB_per_s"] = megabytes / (comparison.ours.median() / 1000);
    state.counters["unzip_MB_per_s"] = megabytes / (comparison.theirs.median() / 1000);
    inProcess.report(state, "inprocess_ms");
    raw.report(state, "raw_inflate_ms");
    ofRaw.report(state, "of_raw_inflate");
    state.counters["of_raw_inflate_goal"] = 0.95;
    comparison.report(state, "unzip");
}
BENCHMARK(BM_ExtractBigMember)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

TW_QT_BENCHMARK_MAIN()
