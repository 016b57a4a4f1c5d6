// The first-run screen: the Google sign-in's waiting row and its Cancel, and how the last
// attempt's failure is shown below the buttons.
#include "App/DesignSystem/ContentUnavailableView.h"
#include "App/Onboarding/OnboardingView.h"
#include "tests/App/Model/AppModelFixture.h"

#include <QLabel>
#include <QPushButton>

using namespace tw;
using namespace tw::test;
using Op = FakeStorageProvider::Op;
using Code = StorageError::Code;

namespace {

class OnboardingViewTest : public AppModelFixture {
protected:
    template <typename T> static T* child(QWidget* parent, const QString& name) {
        T* found = parent->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    }
};

TEST_F(OnboardingViewTest, GoogleWaitsWithCancelAndCancellingShowsNoError) {
    AppModel& app = build();
    OnboardingView view(app);
    view.show();
    auto* google = child<QPushButton>(&view, QStringLiteral("connectGoogle"));
    auto* waiting = child<QWidget>(&view, QStringLiteral("onboardingWaiting"));
    EXPECT_TRUE(google->isVisible());
    EXPECT_FALSE(waiting->isVisible());

    auto gate = drive->gateNext(Op::connect);
    google->click();
    ASSERT_TRUE(gate->waitEntered());
    waitFor([&] { return waiting->isVisible(); });
    EXPECT_FALSE(google->isVisible());
    EXPECT_FALSE(child<QPushButton>(&view, QStringLiteral("connectTelegram"))->isVisible());

    child<QPushButton>(&view, QStringLiteral("onboardingCancel"))->click();
    gate->release();
    waitFor([&] { return !app.isConnecting(); });
    waitFor([&] { return google->isVisible(); });
    EXPECT_FALSE(waiting->isVisible());
    EXPECT_FALSE(child<QWidget>(&view, QStringLiteral("onboardingError"))->isVisible());
}

TEST_F(OnboardingViewTest, FailuresShowBelowTheButtonsWithoutRecovery) {
    AppModel& app = build(/*googleConfigured=*/false);
    OnboardingView view(app);
    view.show();
    auto* error = child<ContentUnavailableView>(&view, QStringLiteral("onboardingError"));
    auto* notConfigured = child<QLabel>(&view, QStringLiteral("onboardingNotConfigured"));

    // A service this build has no credentials for gets its own sentence.
    child<QPushButton>(&view, QStringLiteral("connectGoogle"))->click();
    waitFor([&] { return notConfigured->isVisible(); });
    EXPECT_EQ(notConfigured->text(), QStringLiteral("Google Drive sign-in isn't available in this build."));
    EXPECT_FALSE(error->isVisible());

    // Any other failure: its title and message, no Try Again even though it offers one.
    app.setPresentedError(PresentedError::make(StorageError(Code::network)));
    waitFor([&] { return error->isVisible(); });
    EXPECT_FALSE(notConfigured->isVisible());
    EXPECT_FALSE(error->recoveryButton()->isVisible());
    const ErrorPresentation presentation = StorageError(Code::network).presentation();
    EXPECT_EQ(error->findChild<QLabel*>(QStringLiteral("stateTitle"))->text(), presentation.title);

    // notConfigured without a known service shows nothing.
    app.setPresentedError(PresentedError::make(StorageError(Code::notConfigured)));
    waitFor([&] { return !error->isVisible(); });
    EXPECT_FALSE(notConfigured->isVisible());
}

} // namespace
