#include "TelegramProvider/TDLib/ClientFactoryLoader.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QThread>

namespace tw {

Q_DECLARE_LOGGING_CATEGORY(lcTDLib)

ClientFactoryLoader::ClientFactoryLoader(Load load) : load_(std::move(load)) {}

ClientFactoryLoader::ClientFactoryLoader(std::shared_ptr<TDClientFactory> factory)
    : state_(factory ? State::loaded : State::missing), factory_(std::move(factory)) {}

std::shared_ptr<TDClientFactory> ClientFactoryLoader::get() {
    Load load;
    {
        std::lock_guard lock(mutex_);
        switch (state_) {
        case State::loaded:
        case State::missing:
            return factory_;
        case State::loading:
            break;
        case State::notLoaded:
            state_ = State::loading;
            load = std::move(load_);
            break;
        }
    }
    if (!load)
        return loaded_.wait(); // another caller is loading

    if (const QCoreApplication* app = QCoreApplication::instance();
        app && QThread::currentThread() == app->thread())
        qCWarning(lcTDLib) << "TDLib is being loaded on the main thread";
    std::shared_ptr<TDClientFactory> factory;
    try {
        factory = load();
    } catch (...) {
        factory.reset();
    }
    {
        std::lock_guard lock(mutex_);
        factory_ = factory;
        state_ = factory ? State::loaded : State::missing;
    }
    loaded_.resolve(factory);
    return factory;
}

ClientFactoryLoader::State ClientFactoryLoader::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

} // namespace tw
