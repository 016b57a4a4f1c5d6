#include "App/Model/StartupWork.h"

#include "StorageCore/Concurrency/TaskRunner.h"

namespace tw {

void StartupWork::run(Job job) {
    if (released_)
        runDetached(std::move(job));
    else
        held_.push_back(std::move(job));
}

void StartupWork::release() {
    if (released_)
        return;
    released_ = true;
    std::vector<Job> jobs = std::move(held_);
    held_.clear();
    for (Job& job : jobs)
        runDetached(std::move(job));
}

} // namespace tw
