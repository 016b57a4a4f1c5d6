#pragma once

#include <functional>
#include <vector>

namespace tw {

/// The start-up's background work (the move of older keyring items, the clean-ups), handed to
/// workers of the task facility only once released: the application releases it when the
/// main window's content has been built after its first frame, so that none of it competes
/// with the first frames for the processor or for the dynamic loader's lock (the keyring's
/// library loads on such a worker). Jobs given after the release start at once. Main thread
/// only.
class StartupWork {
public:
    using Job = std::function<void()>;

    void run(Job job);
    void release();
    bool isReleased() const { return released_; }

private:
    bool released_ = false;
    std::vector<Job> held_;
};

} // namespace tw
