// The Telegram sign-in sheet's title, message and placeholder for each step.
#include "App/SignIn/TelegramLoginSheet.h"

#include <gtest/gtest.h>

using namespace tw;

TEST(TelegramLoginSheetTexts, EachStepAsksInItsOwnWords) {
    using Step = TelegramLoginStep;
    struct Case {
        std::optional<Step> step;
        QString title;
        QString message;
        QString placeholder;
    };
    const QString phone = QStringLiteral(
        "Enter the phone number of your Telegram account, including the country code.");
    const Case cases[] = {
        {std::nullopt, QStringLiteral("Sign In to Telegram"), phone, QStringLiteral("+1 555 123 4567")},
        {Step::phone(), QStringLiteral("Sign In to Telegram"), phone, QStringLiteral("+1 555 123 4567")},
        {Step::code(QStringLiteral("+44 7700 900123"), QStringLiteral("SMS")),
         QStringLiteral("Enter the Code"), QStringLiteral("We sent a code by SMS to +44 7700 900123."),
         QStringLiteral("Code")},
        {Step::code(QString(), QStringLiteral("SMS")), QStringLiteral("Enter the Code"),
         QStringLiteral("We sent a code by SMS to your phone."), QStringLiteral("Code")},
        {Step::code(QStringLiteral("+1 555"), QStringLiteral("Telegram")), QStringLiteral("Enter the Code"),
         QStringLiteral("Telegram sent a code to your other Telegram apps for +1 555. Check the chat "
                        "from \u201cTelegram\u201d."),
         QStringLiteral("Code")},
        {Step::code(QString(), QStringLiteral("Telegram")), QStringLiteral("Enter the Code"),
         QStringLiteral("Telegram sent a code to your other Telegram apps. Check the chat from "
                        "\u201cTelegram\u201d."),
         QStringLiteral("Code")},
        {Step::password(QString()), QStringLiteral("Two-Step Verification"),
         QStringLiteral("Your account is protected with an additional password."),
         QStringLiteral("Password")},
        {Step::password(QStringLiteral("pet's name")), QStringLiteral("Two-Step Verification"),
         QStringLiteral("Your account is protected with an additional password. Hint: pet's name"),
         QStringLiteral("Password")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TelegramLoginSheet::title(c.step), c.title);
        EXPECT_EQ(TelegramLoginSheet::message(c.step), c.message);
        EXPECT_EQ(TelegramLoginSheet::placeholder(c.step), c.placeholder);
    }
}
