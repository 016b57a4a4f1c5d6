// The end-to-end scenario (tests/App/EndToEnd) with every back-end call delayed, as from a
// distant service: the fake Drive server and the fake TDLib hold each request 300 ms
// (TW_E2E_DELAY_MS). Besides the test's steps it opens an 8000 x 8000 image, zooms a PDF to
// its largest steps and plays a short video. Reports per step (and per finer phase: start-up,
// audio and video start) the main thread's longest stall next to the goal of 50 ms, as the
// median with the lowest and highest value over TW_E2E_RUNS runs (default 5, each a process of
// its own in a Secret Service of its own), and the run's total time against the sum of the
// delays it waited for.
//
//   QT_QPA_PLATFORM=offscreen build/bench/EndToEnd/EndToEndBench
// (TW_E2E_RUNS=1 inside tests/support/run-with-secret-service.sh: one run, reported in full.)
//
// TW_E2E_TRACE_STALLS=1 (with TW_E2E_RUNS=1) also tells where each stall comes from: a
// watcher thread takes the main thread's call stack every 5 ms (through a signal that the
// main thread answers). A stretch of 50 ms (TW_E2E_TRACE_MS) or more away from the event loop's own wait is
// printed to standard error as it ends: its length, and the frames of its samples that our
// own code or Qt is in, most frequent first.
#define TW_E2E_BENCH 1
#include "tests/App/EndToEnd/EndToEndScenario.cpp"

#include <cxxabi.h>
#include <dlfcn.h>
#include <execinfo.h>
#include <signal.h>
#include <set>
#include <sys/syscall.h>

namespace {

class StallTracer {
public:
    static void startIfAsked() {
        // In the run's own process (the parent of several runs only waits for them).
        if (qgetenv("TW_E2E_TRACE_STALLS") != "1" || qgetenv("TW_E2E_RUNS") != "1")
            return;
        static StallTracer tracer;
    }

private:
    static constexpr int kDepth = 48;
    static constexpr auto kInterval = std::chrono::milliseconds(5);

    struct Sample {
        void* frames[kDepth];
        int depth = 0;
    };

    StallTracer() : tid_(pid_t(::syscall(SYS_gettid))) {
        void* warm[4];
        ::backtrace(warm, 4); // loads the unwinder before any signal needs it
        instance() = this;
        struct sigaction action {};
        action.sa_handler = &StallTracer::onSignal;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGRTMIN + 5, &action, nullptr);
        std::thread([this] { watch(); }).detach();
    }

    static StallTracer*& instance() {
        static StallTracer* tracer = nullptr;
        return tracer;
    }

    static void onSignal(int) {
        StallTracer* self = instance();
        Sample& sample = self->slot_;
        sample.depth = ::backtrace(sample.frames, kDepth);
        self->taken_.store(true, std::memory_order_release);
    }

    /// Whether the sample shows the main thread waiting in its event loop: one of the first
    /// two frames outside the C library and GLib is the event dispatcher's (or the pause the
    /// scenario's waits take between two turns of the loop). (A blocking D-Bus call or
    /// GLib main loop of a library waits in poll too, but below other frames.)
    bool idle(const Sample& sample) {
        int outside = 0;
        for (int i = 2; i < sample.depth; ++i) {
            auto [at, fresh] = kinds_.try_emplace(sample.frames[i], 0);
            if (fresh) {
                Dl_info info{};
                const bool found = ::dladdr(sample.frames[i], &info) && info.dli_fname;
                const QByteArray file = found ? QByteArray(info.dli_fname) : QByteArray();
                if (found && (file.contains("/libc.so") || file.contains("/libglib-")))
                    at->second = 1; // below the interesting frames
                else if (found && info.dli_sname &&
                         ((QByteArray(info.dli_sname).contains("EventDispatcher") &&
                           QByteArray(info.dli_sname).contains("processEvents")) ||
                          QByteArray(info.dli_sname).contains("QTest6qSleep")))
                    at->second = 2; // the event loop's wait, or the scenario's own between turns
                else
                    at->second = 3;
            }
            // Qt's own poll wrapper is not exported: the dispatcher is one frame further.
            if (at->second == 2)
                return true;
            if (at->second == 3 && ++outside > 2)
                return false;
        }
        return false;
    }

    void watch() {
        QElapsedTimer busyFor;
        std::vector<Sample> samples;
        for (;;) {
            std::this_thread::sleep_for(kInterval);
            taken_.store(false);
            if (::syscall(SYS_tgkill, ::getpid(), tid_, SIGRTMIN + 5) != 0)
                return;
            for (int spin = 0; spin < 2000 && !taken_.load(std::memory_order_acquire); ++spin)
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            if (!taken_.load(std::memory_order_acquire)) {
                std::fprintf(stderr, "stall tracer: no answer from the main thread\n");
                continue;
            }
            const Sample sample = slot_;
            if (idle(sample)) {
                if (!samples.empty() && busyFor.nsecsElapsed() / 1e6 >= reportMs_)
                    report(busyFor.nsecsElapsed() / 1e6, samples);
                samples.clear();
                continue;
            }
            if (samples.empty())
                busyFor.start();
            samples.push_back(sample);
        }
    }

    /// The names of the frames: exported ones through the dynamic linker, the benchmark's
    /// own from its debug data (one addr2line for all of them).
    static std::map<void*, QString> describe(const std::set<void*>& addresses) {
        std::map<void*, QString> names;
        std::vector<void*> own;
        QByteArray ownFile, offsets;
        for (void* address : addresses) {
            Dl_info info{};
            if (!::dladdr(address, &info) || !info.dli_fname)
                continue;
            if (info.dli_sname) {
                int status = 0;
                char* demangled = abi::__cxa_demangle(info.dli_sname, nullptr, nullptr, &status);
                names[address] = QString::fromLatin1(status == 0 ? demangled : info.dli_sname);
                std::free(demangled);
            } else if (QByteArray(info.dli_fname).endsWith("EndToEndBench")) {
                ownFile = info.dli_fname;
                own.push_back(address);
                offsets += " 0x" + QByteArray::number(
                                       qulonglong(quintptr(address) - quintptr(info.dli_fbase) - 1), 16);
            }
        }
        if (own.empty())
            return names;
        const QByteArray command = "addr2line -f -C -e '" + ownFile + "'" + offsets;
        FILE* pipe = ::popen(command.constData(), "r");
        if (!pipe)
            return names;
        char line[4096];
        for (void* address : own) {
            if (!std::fgets(line, sizeof line, pipe))
                break;
            names[address] = QString::fromLocal8Bit(line).trimmed();
            if (!std::fgets(line, sizeof line, pipe)) // the file and line
                break;
        }
        ::pclose(pipe);
        return names;
    }

    void report(double ms, const std::vector<Sample>& samples) {
        // Frames counted once per sample, ours (tw::) and Qt's, without the signal's own.
        std::set<void*> addresses;
        for (const Sample& sample : samples)
            addresses.insert(sample.frames + 2, sample.frames + std::max(2, sample.depth));
        const std::map<void*, QString> names = describe(addresses);
        std::map<QString, int> counts;
        for (const Sample& sample : samples) {
            std::set<QString> seen;
            for (int i = 2; i < sample.depth; ++i) {
                const auto at = names.find(sample.frames[i]);
                if (at == names.end())
                    continue;
                const QString& name = at->second;
                if ((name.contains(QLatin1String("tw::")) || name.startsWith(QLatin1Char('Q'))) &&
                    seen.insert(name).second)
                    ++counts[name];
            }
        }
        std::vector<std::pair<int, QString>> ranked;
        for (const auto& [name, count] : counts)
            ranked.emplace_back(count, name);
        std::sort(ranked.begin(), ranked.end(),
                  [](const auto& a, const auto& b) { return a.first > b.first; });
        QString text = QStringLiteral("stall %1 ms, %2 samples\n")
                           .arg(ms, 0, 'f', 1)
                           .arg(samples.size());
        for (size_t i = 0; i < ranked.size() && i < 25; ++i)
            text += QStringLiteral("  %1  %2\n").arg(ranked[i].first, 3).arg(ranked[i].second.left(160));
        std::fputs(text.toLocal8Bit().constData(), stderr);
    }

    const pid_t tid_;
    Sample slot_;
    std::map<void*, int> kinds_;
    const double reportMs_ = qEnvironmentVariableIntValue("TW_E2E_TRACE_MS") > 0
                                 ? qEnvironmentVariableIntValue("TW_E2E_TRACE_MS")
                                 : 50;
    std::atomic<bool> taken_{false};
};

const bool tracerStarted = (StallTracer::startIfAsked(), true);

} // namespace
