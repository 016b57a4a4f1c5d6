#pragma once

#include "StorageCore/Concurrency/Completion.h"
#include "TelegramProvider/TDLib/TDClient.h"

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace tw {

/// The Telegram back end's client factory, obtained once, on first demand. TDLib's library is
/// large (loading it takes a good part of a second), so the application does not load it while
/// it starts: the first request that needs it loads it on that request's worker thread, and
/// requests arriving meanwhile wait for that load (cancellably). A failed load is final.
class ClientFactoryLoader {
public:
    using Load = std::function<std::shared_ptr<TDClientFactory>()>;

    enum class State { notLoaded, loading, loaded, missing };

    /// load runs at most once; null (or an exception) means the library cannot be had.
    explicit ClientFactoryLoader(Load load);
    /// A loader whose outcome is known already: the factory, or missing when null.
    explicit ClientFactoryLoader(std::shared_ptr<TDClientFactory> factory);

    /// The factory, loading it on the first call (which blocks: worker threads only); null when
    /// the library cannot be loaded. A caller that waits for another's load throws
    /// `cancelled` when its task is cancelled.
    std::shared_ptr<TDClientFactory> get();
    /// Where the load stands; never loads or waits.
    State state() const;

private:
    mutable std::mutex mutex_;
    Load load_;
    State state_ = State::notLoaded;
    std::shared_ptr<TDClientFactory> factory_;
    Completion<std::shared_ptr<TDClientFactory>> loaded_;
};

} // namespace tw
