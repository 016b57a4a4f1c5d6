#pragma once
// A Telegram account signed in against the fake libtdjson of the tests (built with them:
// build/tests/support/faketdjson/libtdjson.so), for the provider benchmarks.

#include "TelegramProvider/TDLib/TDJSONRuntime.h"
#include "TelegramProvider/TelegramStorageProvider.h"
#include "bench/Measure.h"
#include "tests/support/InMemorySecretStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <dlfcn.h>

#include <memory>

namespace tw::bench {

inline QString fakeLibraryPath() {
    // Only the fake built with the tests, found by its own path: TDJSON_PATH names the real
    // library for the application and is never read here.
    QDir dir = QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).dir();
    while (!dir.isRoot()) {
        const QString candidate =
            dir.filePath(QStringLiteral("tests/support/faketdjson/libtdjson.so"));
        if (QFileInfo::exists(candidate))
            return candidate;
        dir.cdUp();
    }
    return {};
}

/// Peak resident memory of the process in bytes (VmHWM).
inline qint64 peakRss() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return 0;
}

/// Starts a new peak-memory measurement (Linux resets VmHWM on "5" in clear_refs).
inline void resetPeakRss() {
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

class AnswersPresenter : public TelegramLoginPresenter {
public:
    QString requestInput(const TelegramLoginStep& step, const std::optional<QString>&) override {
        return step.kind == TelegramLoginStep::Kind::phoneNumber ? QStringLiteral("+15550100")
                                                                 : QStringLiteral("12345");
    }
    void loginFinished() override {}
};

/// One signed-in account of the fake; `configure` sets the fake account's script.
class FakeAccount {
public:
    FakeAccount() {
        const QString path = fakeLibraryPath();
        // One runtime per process: a second receive thread would take the first one's replies.
        static const std::shared_ptr<TDJSONRuntime> runtime =
            TDJSONRuntime::create({path}, 0.05).runtime;
        runtime_ = runtime;
        if (!runtime_)
            return;
        void* handle = dlopen(path.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
        reset_ = reinterpret_cast<void (*)()>(dlsym(handle, "fake_td_reset"));
        configure_ = reinterpret_cast<void (*)(const char*)>(dlsym(handle, "fake_td_configure"));
        reset_();
        provider_ = std::make_unique<TelegramStorageProvider>(
            TelegramConfiguration{12345, QStringLiteral("0123456789abcdef")},
            std::make_shared<test::InMemorySecretStore>(), std::make_shared<AnswersPresenter>(),
            runtime_, dir_.path() + QStringLiteral("/Telegram"));
        account_ = QUuid::createUuid();
        provider_->storeCredential(provider_->connect(std::nullopt).credential, account_);
    }
    ~FakeAccount() {
        if (provider_)
            provider_->closeAllSessions();
    }
    bool ok() const { return provider_ != nullptr; }
    void configure(const QJsonObject& script) const {
        configure_(QJsonDocument(script).toJson(QJsonDocument::Compact).constData());
    }
    TelegramStorageProvider& provider() { return *provider_; }
    const QUuid& account() const { return account_; }
    QString scratch() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
    std::shared_ptr<TDJSONRuntime> runtime_;
    std::unique_ptr<TelegramStorageProvider> provider_;
    QUuid account_;
    void (*reset_)() = nullptr;
    void (*configure_)(const char*) = nullptr;
};

} // namespace tw::bench
