#pragma once

#include "App/Model/AppModel.h"
#include "App/Search/SearchRequest.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <optional>

class QTimer;

namespace tw {

/// Runs the model's search engine for the search field: clears it at once when the field holds
/// nothing to search, else searches after a pause in which the request (the text and the
/// accounts in scope) did not change. Each change of the request replaces the run waiting for
/// its pause; the engine itself drops the answers of a search overtaken by a newer one.
class SearchTask : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds pause{350};

    /// Runs once at once (for the request the model holds now), then on every change. Without
    /// a scheduler the pause is a main-thread timer.
    explicit SearchTask(AppModel& model, AppModel::Scheduler scheduler = {},
                        QObject* parent = nullptr);
    ~SearchTask() override;

    /// The request of the latest run.
    const SearchRequest& request() const { return request_; }
    /// True while a run waits for its pause to end.
    bool isWaiting() const { return bool(cancelWaiting_); }

private:
    void requestMayHaveChanged();
    void run();
    void cancelWaiting();

    AppModel& model_;
    AppModel::Scheduler scheduler_;
    QTimer* timer_ = nullptr;
    std::function<void()> cancelWaiting_;
    SearchRequest request_;
};

} // namespace tw
