#pragma once

#include <QString>

#include <optional>

namespace tw {

class InfoDictionary;

/// The application's Telegram API credentials.
struct TelegramConfiguration {
    qint32 apiID = 0;
    QString apiHash;

    /// Reads "TWTelegramAPIID" and "TWTelegramAPIHash". A value counts when, trimmed, it is not
    /// empty and holds no "$(" (an unexpanded build variable); the id must be a decimal signed
    /// 32-bit integer. nullopt when either is missing: Telegram is then unavailable.
    static std::optional<TelegramConfiguration> fromInfoDictionary(const InfoDictionary& info);

    bool operator==(const TelegramConfiguration&) const = default;
};

} // namespace tw
