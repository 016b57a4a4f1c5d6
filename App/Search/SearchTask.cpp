#include "App/Search/SearchTask.h"

#include "StorageCore/Accounts/AccountManager.h"
#include "StorageCore/Files/FileSearch.h"

#include <QTimer>

namespace tw {

SearchTask::SearchTask(AppModel& model, AppModel::Scheduler scheduler, QObject* parent)
    : QObject(parent), model_(model), scheduler_(std::move(scheduler)) {
    if (!scheduler_) {
        timer_ = new QTimer(this);
        timer_->setSingleShot(true);
        scheduler_ = [this](std::chrono::milliseconds delay, std::function<void()> fn) {
            timer_->disconnect();
            connect(timer_, &QTimer::timeout, this, std::move(fn));
            timer_->start(delay);
            return std::function<void()>([timer = timer_] { timer->stop(); });
        };
    }
    connect(&model_, &AppModel::searchTextChanged, this, &SearchTask::requestMayHaveChanged);
    connect(&model_, &AppModel::searchScopeChanged, this, &SearchTask::requestMayHaveChanged);
    connect(model_.accounts(), &AccountManager::accountsChanged, this,
            &SearchTask::requestMayHaveChanged);
    request_ = searchRequest(model_);
    run();
}

SearchTask::~SearchTask() {
    cancelWaiting();
}

void SearchTask::requestMayHaveChanged() {
    SearchRequest next = searchRequest(model_);
    if (next == request_)
        return;
    request_ = std::move(next);
    run();
}

void SearchTask::run() {
    cancelWaiting();
    FileSearch* engine = model_.search();
    if (!isSearching(request_.text)) {
        engine->clear();
        return;
    }
    cancelWaiting_ = scheduler_(pause, [this] {
        cancelWaiting_ = {};
        // Read afresh: the text goes untrimmed, the engine trims it.
        model_.search()->search(model_.searchText(), searchAccountIDs(model_));
    });
}

void SearchTask::cancelWaiting() {
    if (!cancelWaiting_)
        return;
    auto cancel = std::move(cancelWaiting_);
    cancelWaiting_ = {};
    cancel();
}

} // namespace tw
