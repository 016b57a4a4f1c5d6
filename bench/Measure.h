#pragma once

// Like-for-like measurement for the benchmarks that compare us with a command-line tool:
// both sides run as whole processes started the same way (no shell), the same work inside
// the timed region, several samples taken in alternating order, and every figure reported as
// median with its spread (lowest and highest), ratios included (one ratio per sample pair).

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace tw::bench {

/// Samples per comparison: TW_BENCH_SAMPLES, 5 by default (at least 3).
inline int sampleCount() {
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("TW_BENCH_SAMPLES", &ok);
    return ok ? std::max(3, n) : 5;
}

/// Whether the full sizes are asked for: TW_BENCH_FULL set to a true value ("1", "true",
/// "yes", "on", any case) or --full among the arguments. "0", "false", "no", "off" and an
/// empty value keep the quick defaults; anything else counts as true.
inline bool fullSizes(int argc = 0, char** argv = nullptr) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--full") == 0)
            return true;
    const QByteArray value = qgetenv("TW_BENCH_FULL").trimmed().toLower();
    return !(value.isEmpty() || value == "0" || value == "false" || value == "no" ||
             value == "off");
}

/// Bytes the allocator has handed out and not taken back, over every thread's arena.
inline qint64 heapInUse() {
    const struct mallinfo2 info = ::mallinfo2();
    return qint64(info.uordblks + info.hblkhd);
}

/// This process's resident set now, in MiB (0 when /proc cannot be read).
inline double residentMiB() {
    long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(statm);
    }
    return double(resident) * double(::sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

/// A set of measurements of one figure.
class Samples {
public:
    void add(double value) { values_.push_back(value); }
    bool empty() const { return values_.empty(); }
    double median() const {
        std::vector<double> v = sorted();
        const size_t n = v.size();
        return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    }
    double lowest() const { return empty() ? 0 : sorted().front(); }
    double highest() const { return empty() ? 0 : sorted().back(); }
    const std::vector<double>& values() const { return values_; }

    /// Sets <name>, <name>_min and <name>_max on the benchmark's counters.
    void report(benchmark::State& state, const std::string& name) const {
        state.counters[name] = median();
        state.counters[name + "_min"] = lowest();
        state.counters[name + "_max"] = highest();
    }

private:
    std::vector<double> sorted() const {
        std::vector<double> v = values_;
        std::sort(v.begin(), v.end());
        return v;
    }
    std::vector<double> values_;
};

/// How one process run went.
struct ProcessRun {
    bool ok = false;
    double seconds = 0;      ///< wall time from spawn to exit
    double peakRssMiB = 0;   ///< the process's own high-water mark
};

/// The folder of the running benchmark, where its helper programs are built.
inline QString ownFolder() {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return QStringLiteral(".");
    const QString exe = QString::fromLocal8Bit(path, int(n));
    return exe.left(exe.lastIndexOf(QLatin1Char('/')));
}

/// Runs `program` with `arguments` (found on PATH, no shell), its standard output sent to
/// `standardOutput` (a file path, /dev/null by default) and standard error inherited. It is
/// started through tw-peak-rss, so that its peak resident set is its own (a process started
/// straight from this one would be charged this one's size); both sides of a comparison
/// start the same way, so the small detour is in both times.
inline ProcessRun runProcess(const QString& program, const QStringList& arguments,
                             const QString& standardOutput = QStringLiteral("/dev/null")) {
    char rssPath[] = "/tmp/tw-peak-rss-XXXXXX";
    const int rssFile = ::mkstemp(rssPath);
    if (rssFile < 0)
        return {};
    ::close(rssFile);
    std::vector<QByteArray> storage;
    storage.push_back((ownFolder() + QStringLiteral("/tw-peak-rss")).toLocal8Bit());
    storage.push_back(QByteArray(rssPath));
    storage.push_back(program.toLocal8Bit());
    for (const QString& argument : arguments)
        storage.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const QByteArray out = standardOutput.toLocal8Bit();
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ProcessRun run;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned == 0 && ::waitpid(pid, &status, 0) == pid) {
        run.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (FILE* report = std::fopen(rssPath, "r")) {
            long kib = 0;
            if (std::fscanf(report, "%ld", &kib) == 1)
                run.peakRssMiB = double(kib) / 1024.0;
            std::fclose(report);
        }
    }
    ::unlink(rssPath);
    return run;
}

/// Our side and the tool's side of a comparison, sample by sample.
struct Comparison {
    Samples ours, theirs, ratio; // ratio: their time / ours (above 1: we are faster)

    void add(double oursSeconds, double theirsSeconds) {
        ours.add(oursSeconds * 1000);
        theirs.add(theirsSeconds * 1000);
        ratio.add(theirsSeconds / oursSeconds);
    }
    /// ours_ms, <tool>_ms and vs_<tool>, each with _min and _max.
    void report(benchmark::State& state, const std::string& tool) const {
        ours.report(state, "ours_ms");
        theirs.report(state, tool + "_ms");
        ratio.report(state, "vs_" + tool);
    }
};

/// A transfer of size bytes against curl: its size, both medians in MiB/s, the comparison and
/// the memory samples.
inline void reportTransfer(benchmark::State& state, qint64 size, const Comparison& comparison,
                           const Samples& oursPeak, const Samples& curlPeak,
                           const Samples& growth) {
    const double mib = double(size) / (1024.0 * 1024.0);
    state.counters["MiB"] = mib;
    state.counters["ours_MiB_per_s"] = mib / (comparison.ours.median() / 1000);
    state.counters["curl_MiB_per_s"] = mib / (comparison.theirs.median() / 1000);
    comparison.report(state, "curl");
    oursPeak.report(state, "ours_peak_rss_MiB");
    curlPeak.report(state, "curl_peak_rss_MiB");
    growth.report(state, "ours_rss_growth_MiB");
}

} // namespace tw::bench
