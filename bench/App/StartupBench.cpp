// Start-up of the application against a bare Qt Widgets program, run side by side: the time
// from starting the process to the main window's first paint (goal: the application under
// 1.5 times the bare program's), and the resident memory after start and an idle second
// (goal: under 60 MB more than the bare program's). Counters are medians over the runs, with
// the lowest and highest (…_min, …_max); "ratio" is the median of each run's own ratio.
//
// The application is composed exactly as main() does (Application::liveParts()) in a child
// process of this program, over private XDG folders holding 20 stored accounts (10 Google
// Drive, 10 Telegram), an unreachable keyring bus and the Google endpoints on a closed
// loopback port: nothing leaves the machine. The bare program is StartupBare. Both children
// print "painted" and then "rss <kB>" (StartupProbe). Children use the offscreen platform
// unless QT_QPA_PLATFORM says otherwise.
#include "App/Shell/Application.h"
#include "App/Shell/MainWindow.h"
#include "StorageCore/Domain/StorageAccount.h"
#include "StorageCore/Persistence/JSONDirectoryStore.h"
#include "bench/App/StartupProbe.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>

using namespace tw;

namespace {

const char* const kChildArgument = "--startup-child";

struct Run {
    double paintedMs = 0;
    double residentMB = 0;
    bool ok = false;
};

QString g_self;

Run runChild(const QString& program, const QStringList& arguments, const QProcessEnvironment& env) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardErrorFile(QProcess::nullDevice());
    Run run;
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    QByteArray out;
    while (!out.contains("painted\n")) {
        if (!process.waitForReadyRead(30'000))
            return run;
        out += process.readAllStandardOutput();
    }
    run.paintedMs = double(clock.nsecsElapsed()) / 1e6;
    while (!out.contains("rss ") || !out.endsWith('\n')) {
        if (!process.waitForReadyRead(30'000))
            return run;
        out += process.readAllStandardOutput();
    }
    process.waitForFinished(10'000);
    const qsizetype at = out.indexOf("rss ");
    run.residentMB = out.mid(at + 4).trimmed().toDouble() / 1024.0;
    run.ok = true;
    return run;
}

QProcessEnvironment childEnvironment(const QString& home) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
    env.insert(QStringLiteral("TW_GOOGLE_BASE_URL"), QStringLiteral("http://127.0.0.1:9"));
    if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

void storeTwentyAccounts(const QString& home) {
    JSONDirectoryStore store(home + QStringLiteral("/data/Tessarow"));
    QJsonArray list;
    for (int i = 0; i < 20; ++i) {
        StorageAccount account;
        account.id = QUuid::createUuid();
        account.provider = i % 2 ? ProviderKind::telegram : ProviderKind::googleDrive;
        account.providerAccountID = QStringLiteral("account-%1").arg(i);
        account.email = QStringLiteral("user%1@example.com").arg(i);
        account.alias = QStringLiteral("Storage %1").arg(i + 1);
        account.colorIndex = i % 8;
        account.createdAt = account.updatedAt = QDateTime::currentDateTimeUtc();
        list.append(account.toJson());
    }
    store.save(list, QStringLiteral("accounts"));
}

void StartupSideBySide(benchmark::State& state) {
    QTemporaryDir home;
    storeTwentyAccounts(home.path());
    const QProcessEnvironment env = childEnvironment(home.path());
    const QString bare = QFileInfo(g_self).dir().filePath(QStringLiteral("StartupBare"));
    QList<double> appMs, bareMs, ratios, appRss, bareRss;
    for (auto _ : state) {
        const Run app = runChild(g_self, {QString::fromLatin1(kChildArgument)}, env);
        const Run plain = runChild(bare, {}, env);
        if (!app.ok || !plain.ok) {
            state.SkipWithError("a child did not paint or report");
            return;
        }
        state.SetIterationTime(app.paintedMs / 1000.0);
        appMs.append(app.paintedMs);
        bareMs.append(plain.paintedMs);
        ratios.append(app.paintedMs / plain.paintedMs); // side by side, under the same load
        appRss.append(app.residentMB);
        bareRss.append(plain.residentMB);
    }
    // Medians: one run disturbed by the rest of the machine does not move them.
    auto median = [](QList<double> values) {
        std::sort(values.begin(), values.end());
        const qsizetype n = values.size();
        return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    };
    auto lowest = [](const QList<double>& values) { return *std::min_element(values.begin(), values.end()); };
    auto highest = [](const QList<double>& values) { return *std::max_element(values.begin(), values.end()); };
    state.counters["app_ms"] = median(appMs);
    state.counters["app_ms_min"] = lowest(appMs);
    state.counters["app_ms_max"] = highest(appMs);
    state.counters["bare_ms"] = median(bareMs);
    state.counters["bare_ms_min"] = lowest(bareMs);
    state.counters["bare_ms_max"] = highest(bareMs);
    state.counters["ratio"] = median(ratios);
    state.counters["ratio_min"] = lowest(ratios);
    state.counters["ratio_max"] = highest(ratios);
    state.counters["app_rss_MB"] = median(appRss);
    state.counters["bare_rss_MB"] = median(bareRss);
    state.counters["extra_rss_MB"] = median(appRss) - median(bareRss);
}
BENCHMARK(StartupSideBySide)->Iterations(11)->UseManualTime()->Unit(benchmark::kMillisecond);

/// The application as main() composes it, in this child process.
int runApplicationChild(int argc, char** argv) {
    QApplication app(argc, argv);
    setApplicationIdentity(QStringLiteral("bench"));
    QApplication::setDesktopFileName(QStringLiteral("org.tessarow.Kelvanor"));
    QApplication::setQuitOnLastWindowClosed(false);
    Application application(Application::liveParts());
    new bench::StartupProbe(&application.mainWindow());
    application.show();
    return QApplication::exec();
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], kChildArgument) == 0)
        return runApplicationChild(argc, argv);
    QCoreApplication app(argc, argv);
    g_self = QCoreApplication::applicationFilePath();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
