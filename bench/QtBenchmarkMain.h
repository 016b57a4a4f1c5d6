#pragma once

// main() of a benchmark whose code needs a Qt application (tasks hand results to it).
#include <QCoreApplication>

#include <benchmark/benchmark.h>

#define TW_QT_BENCHMARK_MAIN()                                                                     \
    int main(int argc, char** argv) {                                                              \
        QCoreApplication app(argc, argv);                                                          \
        benchmark::Initialize(&argc, argv);                                                        \
        benchmark::RunSpecifiedBenchmarks();                                                       \
        benchmark::Shutdown();                                                                     \
        return 0;                                                                                  \
    }
