// Where windows and popups open: fitted to the screen's available area and kept whole on it.
// The pure rules run over a table of screens; the widget test runs on the screen the test is
// given (a small, scaled one: see tests/App/CMakeLists.txt).
#include "App/DesignSystem/WindowPlacement.h"
#include "App/Shell/MainWindow.h"
#include "tests/App/Model/AppModelFixture.h"
#include "tests/App/Preview/RecordingQuickLook.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

using namespace tw;
using namespace tw::test;
namespace WP = tw::WindowPlacement;

namespace {

bool whollyInside(const QRect& inner, const QRect& outer) {
    return outer.contains(inner);
}

} // namespace

TEST(WindowPlacement, SizesFitTheAvailableAreaWithTheFrame) {
    struct Case {
        const char* name;
        QSize wanted;
        QRect available;
        QSize minimum;
        QSize expected;
    };
    const QMargins frame = WP::defaultFrame;
    const Case cases[] = {
        {"large screen: as wanted", {1100, 700}, {0, 0, 1920, 1050}, {820, 520}, {1100, 700}},
        // 1400 x 900 pixels at scale 1.5, a panel of 32 at the top.
        {"scaled small screen",
         {1100, 700},
         {0, 32, 933, 568},
         {820, 520},
         {933 - frame.left() - frame.right(), 568 - frame.top() - frame.bottom()}},
        {"only too tall",
         {600, 500},
         {0, 0, 1024, 500},
         {0, 0},
         {600, 500 - frame.top() - frame.bottom()}},
        {"minimum kept where there is room",
         {600, 400},
         {0, 0, 1920, 1080},
         {820, 520},
         {820, 520}},
        {"minimum larger than the screen gives way",
         {1100, 700},
         {0, 0, 800, 500},
         {820, 520},
         {800 - frame.left() - frame.right(), 500 - frame.top() - frame.bottom()}},
    };
    for (const Case& c : cases) {
        const QSize size = WP::fittedSize(c.wanted, c.available, frame, c.minimum);
        EXPECT_EQ(size, c.expected) << c.name;
        const QSize room = c.available.size().shrunkBy(frame);
        EXPECT_LE(size.width(), room.width()) << c.name;
        EXPECT_LE(size.height(), room.height()) << c.name;
    }
}

TEST(WindowPlacement, WindowsOpenCentredOnTheirAnchorAndWhollyOnScreen) {
    struct Case {
        const char* name;
        QSize frame;
        QRect anchor;
        QRect available;
        QPoint expectedTopLeft;
    };
    const Case cases[] = {
        {"centred on the window",
         {600, 500},
         {100, 100, 1100, 700},
         {0, 0, 1920, 1080},
         {350, 200}},
        {"window hanging off the left edge",
         {600, 500},
         {-700, 100, 1100, 700},
         {0, 0, 1920, 1080},
         {0, 200}},
        {"window hanging off the bottom right",
         {600, 500},
         {1500, 800, 1100, 700},
         {0, 0, 1920, 1080},
         {1320, 580}},
        {"second screen with a top panel",
         {600, 500},
         {1920, 0, 400, 300},
         {1920, 32, 1280, 992},
         {1920, 32}},
        {"larger than the screen keeps its corner on it",
         {1000, 800},
         {0, 0, 933, 600},
         {0, 0, 933, 600},
         {0, 0}},
    };
    for (const Case& c : cases) {
        const QRect placed = WP::centred(c.frame, c.anchor, c.available);
        EXPECT_EQ(placed.topLeft(), c.expectedTopLeft) << c.name;
        EXPECT_EQ(placed.size(), c.frame) << c.name;
        if (c.frame.width() <= c.available.width() && c.frame.height() <= c.available.height()) {
            EXPECT_TRUE(whollyInside(placed, c.available)) << c.name;
        }
    }
}

TEST(WindowPlacement, NewWindowsStepAwayFromOpenOnesAndWrapAtTheEdge) {
    const QRect area(0, 0, 1280, 800);
    const QRect frame(300, 100, 600, 500);
    EXPECT_EQ(WP::cascaded(frame, {}, area), frame);
    EXPECT_EQ(WP::cascaded(frame, {QPoint(50, 50)}, area), frame) << "elsewhere: no step";
    EXPECT_EQ(WP::cascaded(frame, {QPoint(302, 101)}, area).topLeft(), QPoint(328, 128));
    EXPECT_EQ(WP::cascaded(frame, {QPoint(300, 100), QPoint(328, 128)}, area).topLeft(),
              QPoint(356, 156));
    // No room for the next step: back to the area's corner.
    const QRect low(600, 290, 600, 500);
    const QRect wrapped = WP::cascaded(low, {QPoint(600, 290)}, area);
    EXPECT_EQ(wrapped.topLeft(), area.topLeft());
    EXPECT_TRUE(whollyInside(wrapped, area));
    // Every spot taken: it ends without looping forever.
    QList<QPoint> everywhere;
    for (int i = 0; i < 100; ++i)
        everywhere.append(QPoint(i * 28 % 700, i * 28 % 300));
    EXPECT_TRUE(whollyInside(WP::cascaded(frame, everywhere, area), area));
}

TEST(WindowPlacement, PopupsOpenUnderTheirButtonInsideTheWindow) {
    struct Case {
        const char* name;
        QSize size;
        QRect anchor;
        QRect bounds;
        QRect expected;
    };
    const Case cases[] = {
        {"room everywhere", {340, 200}, {500, 40, 40, 30}, {0, 0, 1100, 700}, {350, 70, 340, 200}},
        {"button at the window's right edge",
         {340, 200},
         {1050, 40, 40, 30},
         {0, 0, 1100, 700},
         {760, 70, 340, 200}},
        {"button at the left edge",
         {340, 200},
         {5, 40, 40, 30},
         {0, 0, 1100, 700},
         {0, 70, 340, 200}},
        {"no room below: above",
         {340, 200},
         {500, 600, 40, 30},
         {0, 0, 1100, 700},
         {350, 400, 340, 200}},
        {"too tall either way: the larger side, shortened",
         {340, 500},
         {500, 300, 40, 30},
         {0, 0, 1100, 700},
         {350, 330, 340, 370}},
        {"window narrower than the popup",
         {340, 200},
         {100, 40, 40, 30},
         {20, 0, 300, 700},
         {20, 70, 300, 200}},
    };
    for (const Case& c : cases) {
        const QRect placed = WP::popup(c.size, c.anchor, c.bounds);
        EXPECT_EQ(placed, c.expected) << c.name;
        EXPECT_TRUE(whollyInside(placed, c.bounds)) << c.name;
        EXPECT_FALSE(placed.intersects(c.anchor)) << c.name;
    }
}

TEST(WindowPlacement, TitlesGetTheWidthTheyNeedUpToTheScreen) {
    const QRect wide(0, 0, 1920, 1080);
    const int shortTitle = WP::widthForTitle(QStringLiteral("About"), wide);
    const int longTitle =
        WP::widthForTitle(QStringLiteral("The storage service is having trouble."), wide);
    EXPECT_GT(longTitle, shortTitle);
    EXPECT_GT(longTitle,
              QFontMetrics(QGuiApplication::font())
                  .horizontalAdvance(QStringLiteral("The storage service is having trouble.")));
    const QRect narrow(0, 0, 400, 300);
    EXPECT_LE(WP::widthForTitle(QString(300, QLatin1Char('W')), narrow), narrow.width());
}

// On the screen the test runs on (small and scaled): a window that wants more than the screen
// opens smaller, whole on it; a second one is placed over the first, whole as well.
TEST(WindowPlacement, AWindowLargerThanTheScreenOpensWholeOnIt) {
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen->availableGeometry();
    QWidget main;
    main.setMinimumSize(820, 520);
    WP::place(&main, QSize(1100, 700) * 1.5, nullptr);
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    EXPECT_TRUE(whollyInside(main.frameGeometry(), area))
        << main.frameGeometry().x() << "," << main.frameGeometry().y() << " "
        << main.frameGeometry().width() << "x" << main.frameGeometry().height() << " on "
        << area.width() << "x" << area.height();
    EXPECT_LE(main.width(), area.width());

    QWidget over(nullptr, Qt::Window);
    WP::place(&over, QSize(600, 500), &main);
    over.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&over));
    EXPECT_TRUE(whollyInside(over.frameGeometry(), area));
    EXPECT_LE(std::abs(over.frameGeometry().center().x() - main.frameGeometry().center().x()), 2);
}

// A second window of a kind opened over the same window steps away from the first.
TEST(WindowPlacement, ASecondWindowOfAKindStepsAwayFromTheFirst) {
    QWidget first;
    WP::place(&first, QSize(400, 300), nullptr);
    first.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&first));
    QWidget second;
    WP::placeCascaded(&second, QSize(400, 300), nullptr, {&first});
    second.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&second));
    const QPoint step = second.frameGeometry().topLeft() - first.frameGeometry().topLeft();
    EXPECT_EQ(step, QPoint(28, 28)) << step.x() << "," << step.y();
    EXPECT_TRUE(whollyInside(second.frameGeometry(), second.screen()->availableGeometry()));
}

// The main window, 1100 x 700 by default, on the scaled screen: smaller, whole on it, centred.
class MainWindowPlacement : public AppModelFixture {};

TEST_F(MainWindowPlacement, TheMainWindowFitsAScaledScreen) {
    AppModel& app = build();
    RecordingQuickLook quickLook;
    {
        MainWindow main(app, quickLook, [](const PreviewTarget&) {});
        main.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
        const QRect area = main.screen()->availableGeometry();
        ASSERT_LT(area.width(), 1100) << "the test runs on a small screen";
        EXPECT_TRUE(whollyInside(main.frameGeometry(), area));
        EXPECT_GE(main.width(), main.minimumWidth());
        EXPECT_LE(std::abs(main.frameGeometry().center().x() - area.center().x()), 8);
    }
}
