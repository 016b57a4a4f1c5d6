// A task that ends while the application is being destroyed must not post its result to the
// dead application (workers are never joined at exit). Its own process, since the test
// destroys the application; under AddressSanitizer a post to the freed object is reported.
#include "StorageCore/Concurrency/Completion.h"
#include "StorageCore/Concurrency/TaskRunner.h"

#include <QCoreApplication>
#include <QThreadPool>

#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
    using namespace tw;
    auto app = std::make_unique<QCoreApplication>(argc, argv);
    auto receiver = std::make_unique<QObject>();

    // The tasks hold their own copies of the completions (copies share one state): the pool's
    // end is signalled under Qt's own locks, which ThreadSanitizer cannot see, so nothing the
    // workers still touch may be destroyed by main() on its strength alone.
    Completion<std::monostate> release;
    Completion<std::monostate> finished;
    bool delivered = false;
    runTask(
        receiver.get(),
        [release] {
            release.wait();
            return 1;
        },
        [&](TaskResult<int>) { delivered = true; });
    // The detached task ends after its result has been dropped or posted.
    runDetached([release, finished]() mutable {
        release.wait();
        finished.resolve({});
    });

    receiver.reset();
    app.reset();
    release.resolve({});
    if (!finished.waitFor(std::chrono::seconds(10))) {
        std::puts("0 passed, 1 failed: the tasks did not end");
        return 1;
    }
    // Give the first task's hand-over time to happen against the destroyed application.
    threadPool(TaskPool::general)->waitForDone(10'000);
    if (delivered) {
        std::puts("0 passed, 1 failed: a result was delivered without an application");
        return 1;
    }
    std::puts("1 passed, 0 failed");
    return 0;
}
