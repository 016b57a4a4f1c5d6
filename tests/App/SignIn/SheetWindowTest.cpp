// Sheets as dialogs over their window: no minimise or maximise, a height that follows the
// content (an error line never squashes the others), and the close button acting as Cancel.
#include "App/Model/TelegramLoginCoordinator.h"
#include "App/Shell/WindowPresenter.h"
#include "App/SignIn/NameStorageSheet.h"
#include "App/SignIn/TelegramLoginSheet.h"
#include "StorageCore/Concurrency/TaskRunner.h"
#include "tests/App/Model/AppModelFixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace tw;
using namespace tw::test;

namespace {

void expectSheetFlags(const QDialog& sheet) {
    const Qt::WindowFlags flags = sheet.windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Dialog);
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_EQ(sheet.windowModality(), Qt::WindowModal);
}

/// Every visible label of the sheet has at least the height its text needs at its width.
void expectNoLineSquashed(const QDialog& sheet) {
    for (const QLabel* label : sheet.findChildren<QLabel*>()) {
        if (!label->isVisible() || label->text().isEmpty())
            continue;
        const int needed = label->wordWrap() ? label->heightForWidth(label->width())
                                             : label->sizeHint().height();
        EXPECT_GE(label->height(), needed) << label->text().toStdString();
    }
}

} // namespace

TEST(SheetWindow, TheTelegramSheetGrowsForItsErrorLineAndItsCloseButtonCancels) {
    TelegramLoginCoordinator coordinator;
    bool cancelled = false;
    coordinator.setOnCancel([&] { cancelled = true; });
    QWidget window;
    window.resize(800, 600);
    window.show();
    TelegramLoginSheet sheet(&coordinator, &window);
    sheet.open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet));
    expectSheetFlags(sheet);

    std::optional<TaskResult<QString>> answer;
    auto askFor = [&](std::optional<QString> error) {
        answer.reset();
        runTask(
            &coordinator,
            [&coordinator, error] {
                return coordinator.requestInput(TelegramLoginStep::phone(), error);
            },
            [&](TaskResult<QString> r) { answer = std::move(r); });
        ASSERT_TRUE(QTest::qWaitFor([&] { return coordinator.hasPendingRequest(); }, 5000));
    };
    askFor(std::nullopt);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet.height() == sheet.minimumHeight(); }, 5000));
    const int before = sheet.height();
    expectNoLineSquashed(sheet);

    sheet.findChild<QLineEdit*>(QStringLiteral("telegramLoginField"))->setText(QStringLiteral("+1"));
    sheet.findChild<QPushButton*>(QStringLiteral("telegramLoginContinue"))->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return answer.has_value(); }, 5000));
    askFor(QStringLiteral("The phone number is invalid. Check the number and the country code, "
                          "then try again."));
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet.height() > before; }, 5000));
    QCoreApplication::processEvents();
    expectNoLineSquashed(sheet);
    EXPECT_EQ(sheet.minimumHeight(), sheet.maximumHeight()); // nothing to maximise

    // The title bar's close button is Cancel: the sign-in ends, and the sheet stays until the
    // model takes it away.
    sheet.close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return answer.has_value(); }, 5000));
    EXPECT_TRUE(answer->isCancelled());
    EXPECT_TRUE(cancelled);
}

TEST_F(AppModelFixture, ClosingTheNamingSheetKeepsTheProposedNameAndEndsTheQuestion) {
    StorageAccount work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
    storeAccounts({work});
    AppModel& app = build();
    QWidget window;
    window.resize(800, 600);
    window.show();
    WindowPresenter presenter(app, &window, &window);
    presenter.setMainShown(true);
    app.setAccountToName(work);
    waitFor([&] { return presenter.sheetKind() == WindowPresenter::Sheet::naming; });
    QDialog* sheet = presenter.sheet();
    ASSERT_NE(sheet, nullptr);
    expectSheetFlags(*sheet);
    sheet->close();
    waitFor([&] { return !app.accountToName(); });
    EXPECT_EQ(presenter.sheetKind(), WindowPresenter::Sheet::none);
    EXPECT_EQ(app.accounts()->account(work.id)->alias, QStringLiteral("Work"));
}
