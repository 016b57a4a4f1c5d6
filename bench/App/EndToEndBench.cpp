// The end-to-end scenario (tests/App/EndToEnd) with every back-end call delayed, as from a
// distant service: the fake Drive server and the fake TDLib hold each request 300 ms
// (TW_E2E_DELAY_MS). Reports the main thread's longest stall over the whole run (goal: under
// 50 ms) and the run's total time against the sum of the delays it waited for.
//
// Run it as the test runs: inside a Secret Service of its own, on the offscreen platform:
//   QT_QPA_PLATFORM=offscreen tests/support/run-with-secret-service.sh build/bench/EndToEnd/EndToEndBench
#define TW_E2E_BENCH 1
#include "tests/App/EndToEnd/EndToEndScenario.cpp"
