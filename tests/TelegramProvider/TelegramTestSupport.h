#pragma once
// Shared fixtures of the Telegram suites: the runtime over the fake libtdjson (one per test
// process, loaded through the real dynamic loader), fast time limits, a scripted sign-in
// presenter and a temporary session folder.

#include "StorageCore/Concurrency/Cancellation.h"
#include "TelegramProvider/TDLib/TDJSONRuntime.h"
#include "TelegramProvider/TelegramLoginPresenter.h"
#include "TelegramProvider/TelegramSession.h"
#include "tests/support/faketdjson/FakeTdJsonControl.h"

#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <mutex>
#include <thread>

#if defined(__SANITIZE_THREAD__)
// Qt, TDLib and libstdc++ are not built with ThreadSanitizer: their own synchronisation
// (QMutex's futex, TDLib's threads, the reference count of std::exception_ptr) is invisible
// to it and shows up as races inside them.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libQt6Core.so\n"
           "race:td::\n"
           "race:std::__exception_ptr::exception_ptr::_M_release\n";
}
#endif

namespace tw::test {

inline QString fakeTdJsonPath() {
    return QStringLiteral(TW_FAKE_TDJSON_PATH);
}

/// A runtime over the fake library at path and nothing else: when it cannot be loaded there
/// is no runtime, never a fallback to the real library.
inline TDJSONRuntime::LoadResult loadFakeRuntime(const QString& path) {
    return TDJSONRuntime::create({path}, 0.05);
}

/// The process's runtime over the fake library, loaded through the real dynamic loader.
inline std::shared_ptr<TDJSONRuntime> fakeRuntime() {
    static std::shared_ptr<TDJSONRuntime> runtime = [] {
        auto result = loadFakeRuntime(fakeTdJsonPath());
        if (!result.runtime)
            throw std::runtime_error(result.error.toStdString());
        return result.runtime;
    }();
    return runtime;
}

inline FakeTdJson& fakeTd() {
    static FakeTdJson control(fakeTdJsonPath());
    return control;
}

/// Short limits so that the bounded waits end quickly in tests.
inline TelegramTimeLimits fastLimits() {
    TelegramTimeLimits limits;
    limits.close = std::chrono::milliseconds(400);
    limits.logOut = std::chrono::milliseconds(400);
    limits.settle = std::chrono::milliseconds(2000);
    return limits;
}

inline TelegramConfiguration testConfiguration() {
    return TelegramConfiguration{12345, QStringLiteral("0123456789abcdef")};
}

inline TelegramDeviceInfo testDevice() {
    return TelegramDeviceInfo{QStringLiteral("en"), QStringLiteral("Linux"),
                              QStringLiteral("Test OS"), QStringLiteral("1.0")};
}

inline QJsonObject state(const QString& type, QJsonObject fields = {}) {
    fields.insert(QStringLiteral("@type"), type);
    return fields;
}

/// Runs fn on its own thread under a stop token of its own; stop() cancels it.
template <typename T> class Cancellable {
public:
    explicit Cancellable(std::function<T()> fn) {
        auto token = source_.get_token();
        future_ = std::async(std::launch::async, [fn = std::move(fn), token] {
            Cancellation::Scope scope(token);
            return fn();
        });
    }
    void stop() { source_.request_stop(); }
    /// Waits (at most 10 s, so that a fault fails the test instead of hanging it).
    bool finished(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        return future_.wait_for(timeout) == std::future_status::ready;
    }
    T get() { return future_.get(); }

private:
    std::stop_source source_;
    std::future<T> future_;
};

/// A presenter that answers from a script and records every prompt.
class ScriptedPresenter : public TelegramLoginPresenter {
public:
    struct Prompt {
        TelegramLoginStep step;
        std::optional<QString> error;
    };
    /// Answers per step; the phone step gets phone, the code step the code, and so on.
    std::function<QString(const TelegramLoginStep&, const std::optional<QString>&)> answer;
    /// Runs (on the sign-in's thread) each time the sign-in ends.
    std::function<void()> onFinished;

    QString requestInput(const TelegramLoginStep& step,
                         const std::optional<QString>& error) override {
        std::function<QString(const TelegramLoginStep&, const std::optional<QString>&)> fn;
        {
            std::lock_guard lock(mutex_);
            prompts_.append({step, error});
            fn = answer;
        }
        return fn(step, error);
    }
    void loginFinished() override {
        std::function<void()> fn;
        {
            std::lock_guard lock(mutex_);
            ++finished_;
            fn = onFinished;
        }
        if (fn)
            fn();
    }
    QList<Prompt> prompts() const {
        std::lock_guard lock(mutex_);
        return prompts_;
    }
    int finishedCount() const {
        std::lock_guard lock(mutex_);
        return finished_;
    }

private:
    mutable std::mutex mutex_;
    QList<Prompt> prompts_;
    int finished_ = 0;
};

/// Answers for the fake's default account (code "12345", no password).
inline QString defaultAnswer(const TelegramLoginStep& step, const std::optional<QString>&) {
    switch (step.kind) {
    case TelegramLoginStep::Kind::phoneNumber:
        return QStringLiteral("+15550100");
    case TelegramLoginStep::Kind::code:
        return QStringLiteral("12345");
    case TelegramLoginStep::Kind::password:
        return QStringLiteral("hunter2");
    }
    return {};
}

/// Base fixture: a fresh fake account and an empty session folder.
class FakeTDLibTest : public ::testing::Test {
protected:
    void SetUp() override {
        runtime = fakeRuntime();
        fakeTd().reset();
        ASSERT_TRUE(temp.isValid());
        base = temp.path() + QStringLiteral("/Tessarow/Telegram");
    }
    void TearDown() override {
        // Every test must leave no client behind: a leak shows here.
        EXPECT_TRUE(QTest::qWaitFor([&] { return runtime->liveClientCount() == 0; }, 5000))
            << runtime->liveClientCount() << " TDLib clients still open";
    }

    std::shared_ptr<TelegramSession> newSession(const QString& name = QStringLiteral("S"),
                                                const QByteArray& key = QByteArray(32, 'k')) {
        return std::make_shared<TelegramSession>(runtime->makeClient(), base + "/" + name, key,
                                                 testConfiguration(), fastLimits(), testDevice());
    }

    std::shared_ptr<TDJSONRuntime> runtime;
    QTemporaryDir temp;
    QString base;
};

} // namespace tw::test
