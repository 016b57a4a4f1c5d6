// The back end's client factory is loaded once, by the first operation that needs it, on that
// operation's thread; nothing that merely builds the provider, asks whether it is available or
// cleans up session folders loads it.
#include "TelegramProvider/TDLib/ClientFactoryLoader.h"
#include "tests/TelegramProvider/TelegramProviderFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace tw;
using namespace tw::test;
using Code = StorageError::Code;
using State = ClientFactoryLoader::State;

namespace {

/// A load function that counts its calls, records the thread of the last one and, when gated,
/// holds until the test opens the gate.
struct RecordingLoad {
    struct Shared {
        std::atomic<int> calls{0};
        std::mutex mutex;
        std::thread::id thread;
        Completion<std::monostate> started;
        std::optional<Completion<std::monostate>> gate;
    };
    std::shared_ptr<Shared> shared = std::make_shared<Shared>();

    ClientFactoryLoader::Load give(std::function<std::shared_ptr<TDClientFactory>()> result) const {
        return [shared = shared, result = std::move(result)] {
            ++shared->calls;
            {
                std::lock_guard lock(shared->mutex);
                shared->thread = std::this_thread::get_id();
            }
            shared->started.resolve(std::monostate{});
            if (shared->gate) {
                Cancellation::Scope own{std::stop_token()};
                shared->gate->wait();
            }
            return result();
        };
    }
    int calls() const { return shared->calls.load(); }
    std::thread::id thread() const {
        std::lock_guard lock(shared->mutex);
        return shared->thread;
    }
};

class NoClients : public TDClientFactory {
public:
    std::shared_ptr<TDClient> makeClient() override {
        throw StorageError(Code::invalidResponse);
    }
};

StorageError errorOf(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const StorageError& error) {
        return error;
    }
    return StorageError(Code::invalidName); // stands for "no error"
}

} // namespace

TEST(ClientFactoryLoader, LoadsOnceAndConcurrentCallersWaitForThatLoad) {
    RecordingLoad load;
    load.shared->gate.emplace();
    const auto factory = std::make_shared<NoClients>();
    ClientFactoryLoader loader(load.give([factory] { return factory; }));
    EXPECT_EQ(loader.state(), State::notLoaded);
    EXPECT_EQ(load.calls(), 0);

    Cancellable<std::shared_ptr<TDClientFactory>> first([&] { return loader.get(); });
    load.shared->started.wait();
    EXPECT_EQ(loader.state(), State::loading);
    Cancellable<std::shared_ptr<TDClientFactory>> second([&] { return loader.get(); });
    EXPECT_FALSE(second.finished(std::chrono::milliseconds(50))); // waits for the first's load

    load.shared->gate->resolve(std::monostate{});
    ASSERT_TRUE(first.finished());
    ASSERT_TRUE(second.finished());
    EXPECT_EQ(first.get(), factory);
    EXPECT_EQ(second.get(), factory);
    EXPECT_EQ(loader.get(), factory);
    EXPECT_EQ(loader.state(), State::loaded);
    EXPECT_EQ(load.calls(), 1);
    EXPECT_NE(load.thread(), std::this_thread::get_id()); // the first caller's thread loaded
}

TEST(ClientFactoryLoader, AFailedLoadIsFinal) {
    struct Case {
        const char* name;
        std::function<std::shared_ptr<TDClientFactory>()> result;
    };
    const Case cases[] = {
        {"no library", [] { return std::shared_ptr<TDClientFactory>(); }},
        {"load throws", []() -> std::shared_ptr<TDClientFactory> { throw std::runtime_error("x"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingLoad load;
        ClientFactoryLoader loader(load.give(c.result));
        EXPECT_EQ(loader.get(), nullptr);
        EXPECT_EQ(loader.state(), State::missing);
        EXPECT_EQ(loader.get(), nullptr);
        EXPECT_EQ(load.calls(), 1);
    }
    EXPECT_EQ(ClientFactoryLoader(std::shared_ptr<TDClientFactory>()).state(), State::missing);
    EXPECT_EQ(ClientFactoryLoader(std::make_shared<NoClients>()).state(), State::loaded);
}

TEST(ClientFactoryLoader, AWaiterGivesUpWhenItsTaskIsCancelled) {
    RecordingLoad load;
    load.shared->gate.emplace();
    const auto factory = std::make_shared<NoClients>();
    ClientFactoryLoader loader(load.give([factory] { return factory; }));
    Cancellable<std::shared_ptr<TDClientFactory>> first([&] { return loader.get(); });
    load.shared->started.wait();

    Cancellable<Code> waiter([&] {
        try {
            loader.get();
        } catch (const StorageError& error) {
            return error.code();
        }
        return Code::invalidName;
    });
    waiter.stop();
    ASSERT_TRUE(waiter.finished());
    EXPECT_EQ(waiter.get(), Code::cancelled);

    // The load itself goes on and serves later callers.
    load.shared->gate->resolve(std::monostate{});
    ASSERT_TRUE(first.finished());
    EXPECT_EQ(first.get(), factory);
    EXPECT_EQ(loader.get(), factory);
    EXPECT_EQ(load.calls(), 1);
}

class LazyTelegramProviderTest : public TelegramProviderTest {
protected:
    /// A provider over the same secrets and folder whose factory comes from load.
    std::unique_ptr<TelegramStorageProvider> lazyProvider(ClientFactoryLoader::Load load) {
        return std::make_unique<TelegramStorageProvider>(
            TelegramStorageProvider::ConfigurationSource([] {
                return std::optional<TelegramConfiguration>(testConfiguration());
            }),
            secrets, presenter, std::make_shared<ClientFactoryLoader>(std::move(load)), base,
            fastLimits(), clock.clock());
    }
};

TEST_F(LazyTelegramProviderTest, TheFirstOperationLoadsTheLibraryOnItsOwnThread) {
    const QUuid account = addAccount();
    const QString kept = sessionIDOf(account);
    provider->closeAllSessions();
    const QString orphan = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    ASSERT_TRUE(QDir().mkpath(base + "/" + orphan));

    RecordingLoad load;
    auto lazy = lazyProvider(load.give([runtime = runtime] { return runtime; }));
    // Neither building it, nor asking about it, nor the start-up clean-up loads the library;
    // the clean-up keeps the stored account's folder all the same.
    EXPECT_TRUE(lazy->isAvailable());
    EXPECT_FALSE(lazy->isLibraryLoaded());
    EXPECT_EQ(lazy->removeOrphanedSessions({account}), 1);
    EXPECT_TRUE(folderExists(kept));
    EXPECT_FALSE(folderExists(orphan));
    EXPECT_EQ(load.calls(), 0);

    // The first account operation loads it, on the thread that runs the operation.
    std::thread::id worker;
    std::optional<StorageError> failure;
    std::thread([&] {
        worker = std::this_thread::get_id();
        try {
            lazy->quota(account);
        } catch (const StorageError& error) {
            failure = error;
        }
    }).join();
    EXPECT_FALSE(failure) << int(failure->code());
    EXPECT_EQ(load.calls(), 1);
    EXPECT_EQ(load.thread(), worker);
    EXPECT_TRUE(lazy->isLibraryLoaded());
    lazy->quota(account); // the open session; no second load
    EXPECT_EQ(load.calls(), 1);
    lazy->closeAllSessions();
}

TEST_F(LazyTelegramProviderTest, AMissingLibraryIsFoundOnFirstUseAndReportedAsNotConfigured) {
    RecordingLoad load;
    auto lazy = lazyProvider(load.give([] { return std::shared_ptr<TDClientFactory>(); }));
    EXPECT_TRUE(lazy->isAvailable()); // not known yet

    // Before any credential is read, as with a library found missing at start.
    EXPECT_EQ(errorOf([&] { lazy->quota(QUuid::createUuid()); }).code(), Code::notConfigured);
    EXPECT_FALSE(lazy->isAvailable());
    EXPECT_FALSE(lazy->isLibraryLoaded());
    EXPECT_EQ(errorOf([&] { lazy->connect(std::nullopt); }).code(), Code::notConfigured);
    EXPECT_EQ(load.calls(), 1);
    EXPECT_TRUE(folders().isEmpty());
}

TEST_F(LazyTelegramProviderTest, WithoutConfigurationNothingLoads) {
    RecordingLoad load;
    auto lazy = std::make_unique<TelegramStorageProvider>(
        TelegramStorageProvider::ConfigurationSource(
            [] { return std::optional<TelegramConfiguration>(); }),
        secrets, presenter,
        std::make_shared<ClientFactoryLoader>(load.give([runtime = runtime] { return runtime; })),
        base, fastLimits(), clock.clock());
    EXPECT_FALSE(lazy->isAvailable());
    EXPECT_EQ(errorOf([&] { lazy->connect(std::nullopt); }).code(), Code::notConfigured);
    EXPECT_EQ(errorOf([&] { lazy->quota(QUuid::createUuid()); }).code(), Code::notConfigured);
    EXPECT_EQ(load.calls(), 0);
}
