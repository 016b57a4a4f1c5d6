// Sign-in of TelegramStorageProvider: the conversation with TDLib that turns a new session
// into a signed-in one, asking the user through the login presenter.
#include "TelegramProvider/TelegramStorageProvider.h"

#include "StorageCore/Concurrency/Cancellation.h"

#include <QJsonArray>
#include <QScopeGuard>

namespace tw {

namespace {

QString sentVia(const TDObject& state) {
    const auto info = state.object(QStringLiteral("code_info"));
    const auto type = info ? info->object(QStringLiteral("type")) : std::nullopt;
    return type && type->type() == QLatin1String("authenticationCodeTypeSms")
               ? QStringLiteral("SMS")
               : QStringLiteral("Telegram");
}

QString displayName(const TDObject& user) {
    QStringList parts;
    for (const char* key : {"first_name", "last_name"}) {
        const QString part = user.string(QLatin1String(key)).value_or(QString());
        if (!part.isEmpty())
            parts.append(part);
    }
    return parts.join(QLatin1Char(' '));
}

} // namespace

QString TelegramStorageProvider::friendlyMessage(const TDError& error) {
    if (const auto seconds = error.retryAfter())
        return QStringLiteral("Too many attempts. Try again in %1 seconds.").arg(*seconds);
    const QString& message = error.message();
    if (message == QLatin1String("PHONE_NUMBER_INVALID"))
        return QStringLiteral(
            "That phone number isn't valid. Include the country code, like +1 555 123 4567.");
    if (message == QLatin1String("PHONE_NUMBER_BANNED"))
        return QStringLiteral("Telegram has banned this phone number.");
    if (message == QLatin1String("PHONE_CODE_INVALID"))
        return QStringLiteral("That code isn't right. Check the latest message from Telegram.");
    if (message == QLatin1String("PHONE_CODE_EXPIRED"))
        return QStringLiteral("That code has expired. Cancel and start again to get a new one.");
    if (message == QLatin1String("PASSWORD_HASH_INVALID"))
        return QStringLiteral("That password isn't right.");
    return QStringLiteral("Telegram didn't accept that. Please try again.");
}

QString TelegramStorageProvider::userHandle(const TDObject& user) {
    if (const auto usernames = user.object(QStringLiteral("usernames"))) {
        const QJsonValue active = usernames->value(QStringLiteral("active_usernames"));
        if (active.isArray() && !active.toArray().isEmpty())
            return QLatin1Char('@') + active.toArray().first().toString();
    }
    const QString phone = user.string(QStringLiteral("phone_number")).value_or(QString());
    if (!phone.isEmpty())
        return QLatin1Char('+') + phone;
    return QStringLiteral("Telegram account");
}

void TelegramStorageProvider::signIn(TelegramSession& session) {
    TDObject state = session.open();
    std::optional<QString> pendingError;
    for (;;) {
        Cancellation::checkpoint();
        const QString type = state.type();
        TelegramLoginStep step;
        QString request;
        QString field;
        if (type == QLatin1String("authorizationStateReady")) {
            return;
        } else if (type == QLatin1String("authorizationStateWaitPhoneNumber")) {
            step = TelegramLoginStep::phone();
            request = QStringLiteral("setAuthenticationPhoneNumber");
            field = QStringLiteral("phone_number");
        } else if (type == QLatin1String("authorizationStateWaitCode")) {
            const auto info = state.object(QStringLiteral("code_info"));
            step = TelegramLoginStep::code(
                info ? info->string(QStringLiteral("phone_number")).value_or(QString()) : QString(),
                sentVia(state));
            request = QStringLiteral("checkAuthenticationCode");
            field = QStringLiteral("code");
        } else if (type == QLatin1String("authorizationStateWaitPassword")) {
            step = TelegramLoginStep::password(
                state.string(QStringLiteral("password_hint")).value_or(QString()));
            request = QStringLiteral("checkAuthenticationPassword");
            field = QStringLiteral("password");
        } else if (type == QLatin1String("authorizationStateWaitRegistration")) {
            throw TelegramLoginError(TelegramLoginError::Code::noAccount);
        } else if (type == QLatin1String("authorizationStateClosed") ||
                   type == QLatin1String("authorizationStateClosing") ||
                   type == QLatin1String("authorizationStateLoggingOut")) {
            throw StorageError(StorageError::Code::authorizationFailed);
        } else {
            throw TelegramLoginError(TelegramLoginError::Code::unsupportedStep);
        }

        try {
            const QString answer = presenter_->requestInput(step, pendingError);
            // Sent directly: a rejection must arrive as TDLib's own error to word the prompt.
            session.client()->send(TDObject(request, {{field, answer}}));
            state = *session.authorizationState(type);
            pendingError.reset();
        } catch (const TDError& error) {
            pendingError = friendlyMessage(error);
            // TDLib may have moved on together with the rejection (an expired code sends it
            // back a step): ask for what it waits for now, not for what it waited for before.
            session.settle();
            state = *session.authorizationState(std::nullopt);
        }
    }
}

ProviderConnection TelegramStorageProvider::connect(const std::optional<QString>& loginHint) {
    (void)loginHint;
    const auto configuration = configuration_();
    const auto factory = configuration ? clientFactory() : nullptr;
    if (!factory)
        throw StorageError(StorageError::Code::notConfigured);
    const QString sessionID = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QByteArray key = randomKey();

    auto session =
        makeSessionIn(baseDirectory_, limits_, sessionID, key, *configuration, *factory);
    {
        std::lock_guard lock(signInMutex_);
        signingIn_.insert(sessionID, session);
    }
    auto unmark = qScopeGuard([&] {
        std::lock_guard lock(signInMutex_);
        signingIn_.remove(sessionID);
    });

    // Once TDLib has accepted the sign-in, the session is an authorisation on the user's
    // account: a failure from then on must end it there too, or it stays alive with no folder
    // left to ever use or end it.
    bool signedIn = false;
    try {
        signIn(*session);
        signedIn = true;
        presenter_->loginFinished();
        const TDObject me = session->loadIdentity();

        ProviderConnection connection;
        const auto userID = me.integer(QStringLiteral("id"));
        connection.providerAccountID = userID ? QString::number(*userID) : QStringLiteral("0");
        connection.email = userHandle(me);
        connection.displayName = displayName(me);
        connection.credential.payload = Credential{sessionID, key}.toJson();
        connection.credential.kind = ProviderKind::telegram;

        registry_.addPending(sessionID, session);
        return connection;
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        try {
            presenter_->loginFinished();
        } catch (...) {
        }
        if (!signedIn) {
            // A cancel while TDLib was answering: it may have accepted the last answer.
            try {
                // The answer's state update may still be on its way: handle what has arrived
                // first (bounded, and not cut short by the cancellation being handled here).
                Cancellation::Scope own{std::stop_token()};
                session->settle();
                const auto current =
                    session->authorizationState(std::nullopt, std::chrono::steady_clock::now());
                signedIn = current && current->type() == QLatin1String("authorizationStateReady");
            } catch (...) {
            }
        }
        // Close the instance (even when the sign-in was cancelled) before its folder goes.
        terminateBounded(*session, signedIn);
        removeSessionFolder(sessionID);
        if (Cancellation::isCancelled())
            throw StorageError(StorageError::Code::authorizationCancelled);
        try {
            std::rethrow_exception(error);
        } catch (const StorageError& storageError) {
            if (storageError.isCancelled())
                throw StorageError(StorageError::Code::authorizationCancelled);
            throw;
        } catch (...) {
            throw StorageError(StorageError::Code::network);
        }
    }
}

} // namespace tw
