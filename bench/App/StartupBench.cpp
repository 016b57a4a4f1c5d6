// Start-up of the real `kelvanor` executable against a bare Qt Widgets program (StartupBare),
// each as a whole process on a private X server (Xvfb): the time from exec to the first
// pixels of the main window reaching the server (goal: the application's median at most 1.2
// times the bare program's), the main thread's CPU time up to then, and the resident memory
// after an idle second (goal: at most the bare program's + 40 MB).
//
// Runs are paired in turn (bare, app, app, bare, bare, app…) so that both programs of a pair meet
// the same load and neither always runs second; "ratio" is the median of the pairs' own ratios,
// with its spread (lowest, quartiles, highest). Two cases: no stored account (the welcome
// screen), and one Google Drive and one Telegram account stored (the fake TDLib through
// TDJSON_PATH, the Google endpoints on a closed loopback port, no reachable keyring): nothing
// leaves the machine.
//
// How the first pixels are caught: the root window of a server started with a black root
// (-br) is watched for its children being mapped; once the program's main window is mapped, a
// row across its middle is read back (GetImage) until it holds anything but black, which is
// the first frame the program drew.
//
// Needs Xvfb on the PATH; skipped otherwise. TW_STARTUP_PAIRS sets the number of pairs (15),
// TW_STARTUP_APP another executable to time (an older build, say) in place of this build's.
#include "StorageCore/Domain/StorageAccount.h"
#include "StorageCore/Persistence/JSONDirectoryStore.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace tw;

extern char** environ;

namespace {

constexpr double kRatioGoal = 1.2;
constexpr double kExtraMemoryGoalMB = 40;

double nowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

/// A private Xvfb with a black root, ended with the benchmark.
class PrivateXServer {
public:
    PrivateXServer() {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty())
            return;
        int fds[2];
        if (pipe(fds) != 0)
            return;
        const std::string program = xvfb.toStdString();
        const std::string displayFd = std::to_string(fds[1]);
        std::vector<std::string> args = {program, "-displayfd",  displayFd, "-screen",
                                         "0",     "1400x900x24", "-br",     "-nolisten",
                                         "tcp",   "-ac"};
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (rc != 0) {
            pid_ = -1;
            close(fds[0]);
            return;
        }
        // The server writes its display number once it accepts connections.
        std::string number;
        char c = 0;
        while (read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        if (!number.empty())
            display_ = ":" + number;
    }
    ~PrivateXServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;

    /// ":<n>", empty when no server could be started.
    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

struct Run {
    double firstPixelsMs = 0;
    double mainThreadCpuMs = 0;
    double residentMB = 0;
};

/// Nanoseconds the process's main thread has spent on a processor (schedstat), or -1.
double mainThreadCpuMs(pid_t pid) {
    const std::string path =
        "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/schedstat";
    FILE* file = std::fopen(path.c_str(), "r");
    if (!file)
        return -1;
    unsigned long long ns = 0;
    const int n = std::fscanf(file, "%llu", &ns);
    std::fclose(file);
    return n == 1 ? double(ns) / 1e6 : -1;
}

double residentMB(pid_t pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/status";
    FILE* file = std::fopen(path.c_str(), "r");
    if (!file)
        return -1;
    char line[256];
    double kB = -1;
    while (std::fgets(line, sizeof line, file)) {
        if (std::strncmp(line, "VmRSS:", 6) == 0) {
            kB = std::atof(line + 6);
            break;
        }
    }
    std::fclose(file);
    return kB / 1024.0;
}

/// One connection to the server that watches programs' first frames.
class FirstPixelWatcher {
public:
    explicit FirstPixelWatcher(const std::string& display) {
        connection_ = xcb_connect(display.c_str(), nullptr);
        if (xcb_connection_has_error(connection_))
            return;
        root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection_);
        ok_ = true;
    }
    ~FirstPixelWatcher() { xcb_disconnect(connection_); }
    FirstPixelWatcher(const FirstPixelWatcher&) = delete;
    FirstPixelWatcher& operator=(const FirstPixelWatcher&) = delete;

    bool ok() const { return ok_; }

    /// Starts the program, waits for its main window's first pixels and then an idle second,
    /// and ends it. Nothing when it did not draw within 30 s.
    std::optional<Run> run(const std::string& program,
                           const std::vector<std::string>& environment) {
        drainEvents();
        std::vector<std::string> args = {program};
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        std::vector<std::string> envCopy = environment;
        std::vector<char*> envp;
        for (std::string& entry : envCopy)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        const double started = nowMs();
        const int rc =
            posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0)
            return std::nullopt;

        std::optional<Run> result;
        const double deadline = started + 30'000;
        xcb_window_t window = XCB_NONE;
        uint16_t width = 0, height = 0;
        while (nowMs() < deadline && !result) {
            if (window == XCB_NONE) {
                pollfd fd{xcb_get_file_descriptor(connection_), POLLIN, 0};
                poll(&fd, 1, 2);
                while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
                    if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY && window == XCB_NONE) {
                        const auto* map = reinterpret_cast<xcb_map_notify_event_t*>(event);
                        auto* geometry = xcb_get_geometry_reply(
                            connection_, xcb_get_geometry(connection_, map->window), nullptr);
                        // The main window; not a tool tip or a one-pixel helper window.
                        if (geometry && geometry->width >= 400 && geometry->height >= 300) {
                            window = map->window;
                            width = geometry->width;
                            height = geometry->height;
                        }
                        std::free(geometry);
                    }
                    std::free(event);
                }
                if (xcb_connection_has_error(connection_))
                    break;
                continue;
            }
            if (hasDrawn(window, width, height)) {
                Run run;
                run.firstPixelsMs = nowMs() - started;
                run.mainThreadCpuMs = mainThreadCpuMs(pid);
                result = run;
                break;
            }
            // Read the row back every quarter of a millisecond.
            const timespec pause{0, 250'000};
            nanosleep(&pause, nullptr);
        }
        if (result) {
            // Idle for a second, then the resident set.
            const timespec idle{1, 0};
            nanosleep(&idle, nullptr);
            result->residentMB = residentMB(pid);
        }
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return result;
    }

private:
    void drainEvents() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection_))
            std::free(event);
    }

    /// True once the row across the window's middle holds a pixel that is not black.
    bool hasDrawn(xcb_window_t window, uint16_t width, uint16_t height) {
        xcb_get_image_reply_t* reply =
            xcb_get_image_reply(connection_,
                                xcb_get_image(connection_, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0,
                                              int16_t(height / 2), width, 1, ~0u),
                                nullptr);
        if (!reply)
            return false;
        const uint8_t* data = xcb_get_image_data(reply);
        const int length = xcb_get_image_data_length(reply);
        bool drawn = false;
        for (int i = 0; i < length && !drawn; ++i)
            drawn = data[i] != 0;
        std::free(reply);
        return drawn;
    }

    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = XCB_NONE;
    bool ok_ = false;
};

std::string g_benchDir;

void storeAccounts(const QString& dataHome) {
    JSONDirectoryStore store(dataHome + QStringLiteral("/Tessarow"));
    QJsonArray list;
    for (int i = 0; i < 2; ++i) {
        StorageAccount account;
        account.id = QUuid::createUuid();
        account.provider = i == 1 ? ProviderKind::telegram : ProviderKind::googleDrive;
        account.providerAccountID = QStringLiteral("account-%1").arg(i);
        account.email = QStringLiteral("user%1@example.com").arg(i);
        account.alias = QStringLiteral("Storage %1").arg(i + 1);
        account.colorIndex = i;
        account.createdAt = account.updatedAt = QDateTime::currentDateTimeUtc();
        list.append(account.toJson());
    }
    store.save(list, QStringLiteral("accounts"));
}

std::vector<std::string> childEnvironment(const QString& home, const std::string& display) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XAUTHORITY", "SESSION_MANAGER"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(display));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/runtime"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
               QStringLiteral("unix:path=/nonexistent"));
    env.insert(QStringLiteral("TW_GOOGLE_BASE_URL"), QStringLiteral("http://127.0.0.1:9"));
    env.insert(QStringLiteral("TDJSON_PATH"), QStringLiteral(TW_FAKE_TDJSON_PATH));
    std::vector<std::string> result;
    for (const QString& entry : env.toStringList())
        result.push_back(entry.toStdString());
    return result;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double quantile(std::vector<double> values, double q) {
    std::sort(values.begin(), values.end());
    const double at = q * double(values.size() - 1);
    const size_t low = size_t(at);
    const size_t high = std::min(low + 1, values.size() - 1);
    return values[low] + (values[high] - values[low]) * (at - double(low));
}

void StartupAgainstBareWindow(benchmark::State& state, bool withAccounts) {
    // A server of its own per case: nothing of the last case's windows or clients is left.
    const PrivateXServer server;
    if (server.display().empty()) {
        state.SkipWithError("no Xvfb: the first pixels are caught on a private X server");
        return;
    }
    FirstPixelWatcher watcher(server.display());
    if (!watcher.ok()) {
        state.SkipWithError("cannot connect to the private X server");
        return;
    }
    QTemporaryDir home;
    for (const char* folder : {"/data", "/config", "/cache", "/runtime"})
        QDir().mkpath(home.path() + QString::fromLatin1(folder));
    QFile::setPermissions(home.path() + QStringLiteral("/runtime"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (withAccounts)
        storeAccounts(home.path() + QStringLiteral("/data"));
    const std::vector<std::string> env = childEnvironment(home.path(), server.display());
    const std::string app = qEnvironmentVariableIsEmpty("TW_STARTUP_APP")
                                ? g_benchDir + "/../App/kelvanor"
                                : qEnvironmentVariable("TW_STARTUP_APP").toStdString();
    const std::string bare = g_benchDir + "/StartupBare";

    // One pair first, not counted: file caches warm and the data folder's first writes done.
    if (!watcher.run(bare, env) || !watcher.run(app, env)) {
        state.SkipWithError("a program did not draw its window");
        return;
    }
    std::vector<double> appMs, bareMs, ratios, cpuRatios, appCpu, bareCpu, appRss, bareRss;
    bool bareFirst = true;
    for (auto _ : state) {
        // Each pair in the other order than the last: neither program always runs second.
        std::optional<Run> plain, ours;
        if (bareFirst) {
            plain = watcher.run(bare, env);
            ours = watcher.run(app, env);
        } else {
            ours = watcher.run(app, env);
            plain = watcher.run(bare, env);
        }
        bareFirst = !bareFirst;
        if (!plain || !ours) {
            state.SkipWithError("a program did not draw its window");
            return;
        }
        state.SetIterationTime(ours->firstPixelsMs / 1000.0);
        appMs.push_back(ours->firstPixelsMs);
        bareMs.push_back(plain->firstPixelsMs);
        ratios.push_back(ours->firstPixelsMs / plain->firstPixelsMs);
        appCpu.push_back(ours->mainThreadCpuMs);
        bareCpu.push_back(plain->mainThreadCpuMs);
        cpuRatios.push_back(ours->mainThreadCpuMs / plain->mainThreadCpuMs);
        appRss.push_back(ours->residentMB);
        bareRss.push_back(plain->residentMB);
    }
    const double ratio = median(ratios);
    const double extraMB = median(appRss) - median(bareRss);
    state.counters["ratio"] = ratio;
    state.counters["ratio_goal"] = kRatioGoal;
    state.counters["ratio_min"] = *std::min_element(ratios.begin(), ratios.end());
    state.counters["ratio_p25"] = quantile(ratios, 0.25);
    state.counters["ratio_p75"] = quantile(ratios, 0.75);
    state.counters["ratio_max"] = *std::max_element(ratios.begin(), ratios.end());
    state.counters["app_ms"] = median(appMs);
    state.counters["bare_ms"] = median(bareMs);
    state.counters["cpu_ratio"] = median(cpuRatios);
    state.counters["app_cpu_ms"] = median(appCpu);
    state.counters["bare_cpu_ms"] = median(bareCpu);
    state.counters["app_rss_MB"] = median(appRss);
    state.counters["bare_rss_MB"] = median(bareRss);
    state.counters["extra_rss_MB"] = extraMB;
    state.counters["extra_rss_goal_MB"] = kExtraMemoryGoalMB;
    std::printf("%s: first pixels %.0f ms vs bare %.0f ms; ratio %.2f (goal <= %.1f; min %.2f, "
                "p25 %.2f, p75 %.2f, max %.2f over %zu pairs); main-thread CPU ratio %.2f; idle "
                "RSS %.1f MB vs bare %.1f MB: +%.1f MB (goal <= +%.0f MB) -> %s\n",
                withAccounts ? "with accounts" : "no accounts", median(appMs), median(bareMs),
                ratio, kRatioGoal, *std::min_element(ratios.begin(), ratios.end()),
                quantile(ratios, 0.25), quantile(ratios, 0.75),
                *std::max_element(ratios.begin(), ratios.end()), ratios.size(), median(cpuRatios),
                median(appRss), median(bareRss), extraMB, kExtraMemoryGoalMB,
                ratio <= kRatioGoal && extraMB <= kExtraMemoryGoalMB ? "met" : "NOT MET");
    std::fflush(stdout);
}

int pairs() {
    const int n = qEnvironmentVariableIntValue("TW_STARTUP_PAIRS");
    return n > 0 ? n : 15;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    g_benchDir = QCoreApplication::applicationDirPath().toStdString();
    benchmark::RegisterBenchmark("StartupAgainstBareWindow/noAccounts", StartupAgainstBareWindow,
                                 false)
        ->Iterations(pairs())
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("StartupAgainstBareWindow/googleAndTelegram",
                                 StartupAgainstBareWindow, true)
        ->Iterations(pairs())
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
