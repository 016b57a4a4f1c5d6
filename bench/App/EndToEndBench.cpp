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
#define TW_E2E_BENCH 1
#include "tests/App/EndToEnd/EndToEndScenario.cpp"
