#include "App/Model/ServiceCredentialStore.h"

#include "StorageCore/Domain/InfoDictionary.h"

#include <QCoreApplication>
#include <QDir>

namespace tw {

ServiceCredentialStore::ServiceCredentialStore(std::optional<GoogleOAuthConfiguration> google,
                                               std::optional<TelegramConfiguration> telegram)
    : values_(std::make_shared<const Values>(Values{std::move(google), std::move(telegram)})) {}

ServiceCredentialStore ServiceCredentialStore::fromInfoDictionary(const InfoDictionary& info) {
    return ServiceCredentialStore(GoogleOAuthConfiguration::fromInfoDictionary(info),
                                  TelegramConfiguration::fromInfoDictionary(info));
}

ServiceCredentialStore ServiceCredentialStore::bundled() {
    const QString beside =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("Info.json"));
    return fromInfoDictionary(
        JsonInfoDictionary::fromFirstReadable({beside, QStringLiteral(":/Info.json")}));
}

} // namespace tw
