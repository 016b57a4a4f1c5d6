#pragma once

#include <QString>

#include <exception>
#include <optional>

namespace tw {

/// What Telegram's sign-in asks the user for next.
struct TelegramLoginStep {
    enum class Kind { phoneNumber, code, password };

    Kind kind = Kind::phoneNumber;
    /// code: the number the code was sent to.
    QString phoneNumber;
    /// code: "SMS" or "Telegram" (a message in the user's other Telegram apps).
    QString sentVia;
    /// password: the two-step verification hint, possibly empty.
    QString hint;

    static TelegramLoginStep phone() { return {}; }
    static TelegramLoginStep code(QString phoneNumber, QString sentVia) {
        return {Kind::code, std::move(phoneNumber), std::move(sentVia), {}};
    }
    static TelegramLoginStep password(QString hint) {
        return {Kind::password, {}, {}, std::move(hint)};
    }

    bool operator==(const TelegramLoginStep&) const = default;
};

/// Sign-in states this flow cannot complete.
class TelegramLoginError : public std::exception {
public:
    enum class Code {
        /// The number has no Telegram account (TDLib asks for a registration).
        noAccount,
        /// TDLib asks for something this flow does not handle.
        unsupportedStep,
    };
    explicit TelegramLoginError(Code code) : code_(code) {}
    Code code() const { return code_; }
    const char* what() const noexcept override {
        return code_ == Code::noAccount ? "no Telegram account" : "unsupported sign-in step";
    }
    bool operator==(const TelegramLoginError& other) const { return code_ == other.code_; }

private:
    Code code_;
};

/// How the Telegram back end asks the user for sign-in input. Called from the sign-in's worker
/// thread, never from the main thread; an implementation hands the prompt to the main thread
/// and blocks until the user answers.
class TelegramLoginPresenter {
public:
    virtual ~TelegramLoginPresenter() = default;
    /// Shows the step (with the error text of a rejected answer, when given) and returns what
    /// the user entered. Throws StorageError cancelled when the user cancels (or the task
    /// stops).
    virtual QString requestInput(const TelegramLoginStep& step,
                                 const std::optional<QString>& error) = 0;
    /// The sign-in has ended, successfully or not: remove the prompt.
    virtual void loginFinished() = 0;
};

} // namespace tw
