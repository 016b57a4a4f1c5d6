// The Telegram sign-in sheet by keyboard: keys typed into whatever holds the focus, as a person
// types them, and the trimming of what is sent.
#include "App/Model/TelegramLoginCoordinator.h"
#include "App/SignIn/TelegramLoginSheet.h"
#include "StorageCore/Concurrency/TaskRunner.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace tw;

namespace {

class TelegramLoginSheetKeys : public ::testing::Test {
protected:
    void SetUp() override {
        coordinator.setOnCancel([this] { cancelled = true; });
        sheet.show();
        QApplication::setActiveWindow(&sheet);
        ASSERT_TRUE(QTest::qWaitForWindowActive(&sheet));
        field = sheet.findChild<QLineEdit*>(QStringLiteral("telegramLoginField"));
        next = sheet.findChild<QPushButton*>(QStringLiteral("telegramLoginContinue"));
        ASSERT_TRUE(field && next);
    }

    void TearDown() override {
        // No worker is left parked on a question: the process joins its workers at exit.
        if (coordinator.hasPendingRequest()) {
            answer.reset();
            coordinator.cancel();
            ASSERT_TRUE(QTest::qWaitFor([&] { return answer.has_value(); }, 5000));
        }
    }

    /// A worker asks for `step`, as the sign-in does; returns once the sheet shows it.
    void askFor(const TelegramLoginStep& step) {
        answer.reset();
        runTask(
            &coordinator, [this, step] { return coordinator.requestInput(step, std::nullopt); },
            [this](TaskResult<QString> r) { answer = std::move(r); });
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return coordinator.hasPendingRequest() && field->isEnabled(); }, 5000));
    }

    /// Types into the widget that has the keyboard focus, as a person would.
    void type(const QString& text) {
        for (const QChar c : text) {
            QWidget* focus = QApplication::focusWidget();
            ASSERT_NE(focus, nullptr);
            QTest::keyClick(focus, c.toLatin1());
        }
    }

    TelegramLoginCoordinator coordinator;
    TelegramLoginSheet sheet{&coordinator};
    QLineEdit* field = nullptr;
    QPushButton* next = nullptr;
    bool cancelled = false;
    std::optional<TaskResult<QString>> answer;
};

TEST_F(TelegramLoginSheetKeys, TypedNumberAndCodeReachTheFieldThatWaitsForThem) {
    // The sheet opens before Telegram asks for anything: the field is disabled then.
    EXPECT_FALSE(field->isEnabled());

    askFor(TelegramLoginStep::phone());
    EXPECT_EQ(QApplication::focusWidget(), field);
    type(QStringLiteral("+1 555 0100")); // its spaces must not press Cancel
    EXPECT_FALSE(cancelled);
    EXPECT_TRUE(sheet.isVisible());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return answer.has_value(); }, 5000));
    EXPECT_EQ(answer->value(), QStringLiteral("+1 555 0100"));

    // While the number is checked the field is disabled; the code step gives it the focus back.
    askFor(TelegramLoginStep::code(QStringLiteral("+1 555 0100"), QStringLiteral("SMS")));
    EXPECT_EQ(QApplication::focusWidget(), field);
    type(QStringLiteral("12345"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return answer.has_value(); }, 5000));
    EXPECT_EQ(answer->value(), QStringLiteral("12345"));
    EXPECT_FALSE(cancelled);
}

TEST_F(TelegramLoginSheetKeys, SpaceSeparatorsAndTabsAroundTheValueAreNotSent) {
    askFor(TelegramLoginStep::phone());
    struct Case {
        QString typed;
        std::optional<QString> sent; // nullopt: Continue stays disabled
    };
    const QChar nbsp(0x00A0), thin(0x2009), ideographic(0x3000);
    const Case cases[] = {
        {QString(2, nbsp), std::nullopt},
        {QString(nbsp) + thin + QLatin1Char('\t') + ideographic, std::nullopt},
        {QStringLiteral("+1 555 0100") + nbsp, QStringLiteral("+1 555 0100")},
        {QString(ideographic) + QStringLiteral("+44 7700") + thin + QLatin1Char('\t'),
         QStringLiteral("+44 7700")},
        // Inner spaces are the number's own.
        {QStringLiteral(" +1\u00a0555 "), QStringLiteral("+1\u00a0555")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        field->setText(c.typed);
        EXPECT_EQ(next->isEnabled(), c.sent.has_value());
        if (!c.sent)
            continue;
        next->click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return answer.has_value(); }, 5000));
        EXPECT_EQ(answer->value(), *c.sent);
        askFor(TelegramLoginStep::phone());
    }
}

} // namespace
