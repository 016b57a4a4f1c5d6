// The main() of benchmarks that build widgets: a QApplication on the offscreen platform
// (unless another is asked for), then every registered benchmark.
#pragma once

#include <QApplication>

#include <benchmark/benchmark.h>

namespace tw::bench {

inline int runWidgetBenchmarks(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace tw::bench
