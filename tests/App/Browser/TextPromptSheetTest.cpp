// The name prompt: trimmed, never empty, one Return is one confirmation, Escape cancels.
#include "App/Browser/TextPromptSheet.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace tw;

namespace {

struct Prompt {
    QStringList confirmed;
    std::unique_ptr<TextPromptSheet> sheet;

    explicit Prompt(const QString& initial = QStringLiteral("untitled folder")) {
        sheet = std::make_unique<TextPromptSheet>(
            QStringLiteral("New Folder"), QStringLiteral("Create a folder in Work & Co."), initial,
            QStringLiteral("Create"), [this](const QString& name) { confirmed.append(name); });
        sheet->open();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(sheet.get()));
    }
    QLineEdit* field() const {
        return sheet->findChild<QLineEdit*>(QStringLiteral("textPromptField"));
    }
    QPushButton* confirm() const {
        return sheet->findChild<QPushButton*>(QStringLiteral("textPromptConfirm"));
    }
};

} // namespace

TEST(TextPromptSheetTest, ReturnAtOnceConfirmsTheInitialValueExactlyOnce) {
    Prompt prompt;
    ASSERT_NE(prompt.field(), nullptr);
    EXPECT_EQ(prompt.field()->text(), QStringLiteral("untitled folder"));
    EXPECT_TRUE(prompt.field()->hasFocus() || QApplication::focusWidget() == prompt.field());
    QTest::keyClick(prompt.field(), Qt::Key_Return);
    QTest::keyClick(prompt.field(), Qt::Key_Return); // a second Return reaches a closed sheet
    prompt.sheet->confirm();
    EXPECT_EQ(prompt.confirmed, QStringList{QStringLiteral("untitled folder")});
    EXPECT_FALSE(prompt.sheet->isVisible());
    EXPECT_EQ(prompt.sheet->result(), QDialog::Accepted);
}

TEST(TextPromptSheetTest, ConfirmsTrimmedTextAndNeverABlankOne) {
    struct Case {
        QString typed;
        std::optional<QString> confirmed;
    };
    const Case cases[] = {
        {QStringLiteral("  Reports 2024  "), QStringLiteral("Reports 2024")},
        {QStringLiteral("\tA  B\t"), QStringLiteral("A  B")},
        {QStringLiteral("   "), std::nullopt},
        {QString(), std::nullopt},
    };
    for (const Case& c : cases) {
        Prompt prompt;
        prompt.field()->setText(c.typed);
        EXPECT_EQ(prompt.confirm()->isEnabled(), c.confirmed.has_value()) << c.typed.toStdString();
        QTest::keyClick(prompt.field(), Qt::Key_Return);
        if (c.confirmed) {
            EXPECT_EQ(prompt.confirmed, QStringList{*c.confirmed});
            EXPECT_FALSE(prompt.sheet->isVisible());
        } else {
            EXPECT_TRUE(prompt.confirmed.isEmpty());
            EXPECT_TRUE(prompt.sheet->isVisible()) << "a blank name keeps the sheet open";
        }
    }
}

TEST(TextPromptSheetTest, EscapeAndCancelCloseWithoutConfirming) {
    Prompt escaped;
    QTest::keyClick(escaped.field(), Qt::Key_Escape);
    EXPECT_FALSE(escaped.sheet->isVisible());
    EXPECT_EQ(escaped.sheet->result(), QDialog::Rejected);
    EXPECT_TRUE(escaped.confirmed.isEmpty());

    Prompt cancelled;
    QTest::mouseClick(cancelled.sheet->findChild<QPushButton*>(QStringLiteral("textPromptCancel")),
                      Qt::LeftButton);
    EXPECT_FALSE(cancelled.sheet->isVisible());
    EXPECT_TRUE(cancelled.confirmed.isEmpty());
}

TEST(TextPromptSheetTest, ShowsTextsAsPlainTextAtItsFixedWidth) {
    Prompt prompt(QStringLiteral("<b>x</b>"));
    auto* message = prompt.sheet->findChild<QLabel*>(QStringLiteral("textPromptMessage"));
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->textFormat(), Qt::PlainText);
    EXPECT_TRUE(message->wordWrap());
    EXPECT_EQ(prompt.sheet->width(), 360);
    EXPECT_EQ(prompt.confirm()->text(), QStringLiteral("Create"));
    EXPECT_TRUE(prompt.confirm()->isDefault());
}
