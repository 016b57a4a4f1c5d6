#include "TelegramProvider/TelegramConfiguration.h"

#include "StorageCore/Domain/InfoDictionary.h"
#include "TelegramProvider/TDLib/TDObject.h"

#include <limits>

namespace tw {

namespace {
std::optional<QString> infoValue(const InfoDictionary& info, const char* key) {
    const auto raw = info.string(QLatin1String(key));
    if (!raw)
        return std::nullopt;
    const QString value = raw->trimmed();
    if (value.isEmpty() || value.contains(QLatin1String("$(")))
        return std::nullopt;
    return value;
}
} // namespace

std::optional<TelegramConfiguration>
TelegramConfiguration::fromInfoDictionary(const InfoDictionary& info) {
    const auto idText = infoValue(info, "TWTelegramAPIID");
    if (!idText)
        return std::nullopt;
    const auto id = TDObject::parseDecimal(*idText);
    if (!id || *id < std::numeric_limits<qint32>::min() || *id > std::numeric_limits<qint32>::max())
        return std::nullopt;
    const auto hash = infoValue(info, "TWTelegramAPIHash");
    if (!hash)
        return std::nullopt;
    return TelegramConfiguration{qint32(*id), *hash};
}

} // namespace tw
