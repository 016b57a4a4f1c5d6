// The shared views: palette wrapping, the combined usage bar's segments and texts, the
// empty-state view's symbols, buttons and recovery, alerts, button room and elided labels.
#include "App/DesignSystem/AlertBox.h"
#include "App/DesignSystem/ButtonStyle.h"
#include "App/DesignSystem/CombinedUsageBar.h"
#include "App/DesignSystem/DesignSystem.h"
#include "App/DesignSystem/ElidedLabel.h"
#include "App/DesignSystem/ContentUnavailableView.h"
#include "App/DesignSystem/SymbolIcons.h"
#include "App/DesignSystem/WindowPlacement.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace tw;
using Code = StorageError::Code;

namespace {

StorageAccount drive(int color, std::optional<StorageQuota> quota) {
    StorageAccount account;
    account.id = QUuid::createUuid();
    account.colorIndex = color;
    account.quota = quota;
    return account;
}

} // namespace

TEST(AccountPalette, AnyIndexWrapsIntoTheEightColours) {
    const auto& colors = DS::AccountPalette::colors();
    ASSERT_EQ(colors.size(), 8);
    EXPECT_EQ(DS::AccountPalette::color(8), colors[0]);
    EXPECT_EQ(DS::AccountPalette::color(-1), colors[7]);
    EXPECT_EQ(DS::AccountPalette::color(-17), colors[7]);
}

TEST(CombinedUsageBar, SegmentsFollowTheGivenOrderAndScale) {
    const qint64 gb = 1073741824;
    const QList<StorageAccount> accounts{drive(3, StorageQuota(1, 100 * gb)),
                                         drive(1, StorageQuota(50 * gb, 100 * gb)),
                                         drive(2, std::nullopt), drive(4, StorageQuota(0, gb))};
    // Against the total limit: a one-byte account still gets 2 points; unused and quota-less
    // accounts add nothing; the order is the accounts' own.
    auto segments = CombinedUsageBar::segments(accounts, 200 * gb, 400);
    ASSERT_EQ(segments.size(), 2);
    EXPECT_EQ(segments[0], std::make_pair(3, 2.0));
    EXPECT_EQ(segments[1], std::make_pair(1, 100.0));
    // Without a limit the bar is the total used.
    segments = CombinedUsageBar::segments(accounts, std::nullopt, 400);
    EXPECT_NEAR(segments[1].second, 400.0, 0.001);
    EXPECT_TRUE(CombinedUsageBar::segments({drive(0, std::nullopt)}, std::nullopt, 400).isEmpty());

    EXPECT_EQ(CombinedUsageBar::accessibleValue(accounts, std::nullopt), QStringLiteral("50 GB used"));
    EXPECT_EQ(CombinedUsageBar::accessibleValue(accounts, 200 * gb), QStringLiteral("50 GB of 200 GB"));
}

TEST(ContentUnavailableView, TheRecoveryButtonMatchesTheErrorAndIsOptionalInline) {
    ContentUnavailableView pane;
    QSignalSpy recovered(&pane, &ContentUnavailableView::recover);
    pane.showError(StorageError(Code::offline));
    pane.show();
    EXPECT_EQ(pane.findChild<QLabel*>()->property("symbol").toString(), QStringLiteral("wifi.slash"));
    EXPECT_EQ(pane.recoveryButton()->isVisible(),
              StorageError(Code::offline).presentation().recovery.has_value());

    pane.showError(StorageError(Code::reauthRequired));
    EXPECT_EQ(pane.findChild<QLabel*>()->property("symbol").toString(),
              QStringLiteral("exclamationmark.triangle"));
    ASSERT_TRUE(pane.recoveryButton()->isVisible());
    EXPECT_EQ(pane.recoveryButton()->text(), QStringLiteral("Reconnect"));
    pane.recoveryButton()->click();
    ASSERT_EQ(recovered.count(), 1);
    EXPECT_EQ(recovered.first().first().value<RecoveryAction>(), RecoveryAction::reconnect);

    pane.showError(StorageError(Code::permissionDenied));
    EXPECT_FALSE(pane.recoveryButton()->isVisible());
    // A message after a failure offers no recovery of the failure before it.
    pane.showError(StorageError(Code::reauthRequired));
    pane.showMessage(QStringLiteral("folder"), QStringLiteral("Folder Is Empty"), QString());
    EXPECT_FALSE(pane.recoveryButton()->isVisible());
    EXPECT_FALSE(pane.findChild<QLabel*>(QStringLiteral("stateDescription"))->isVisible());

    ContentUnavailableView quiet(ContentUnavailableView::Shape::row);
    quiet.setOffersRecovery(false);
    quiet.showError(StorageError(Code::reauthRequired));
    quiet.show();
    EXPECT_FALSE(quiet.recoveryButton()->isVisible());
    ContentUnavailableView offering(ContentUnavailableView::Shape::row);
    offering.showError(StorageError(Code::reauthRequired));
    offering.show();
    EXPECT_TRUE(offering.recoveryButton()->isVisible());
}

TEST(ContentUnavailableView, ButtonsLastUntilTheNextStateAndTheSpinnerShowsAlone) {
    ContentUnavailableView pane;
    pane.show();
    pane.showMessage(QStringLiteral("folder"), QStringLiteral("No Photos Here"),
                     QStringLiteral("Choose All to see everything in this folder."));
    int clicks = 0;
    QObject::connect(pane.addButton(QStringLiteral("Show All"), QStringLiteral("stateShowAll")),
                     &QPushButton::clicked, [&] { ++clicks; });
    auto* showAll = pane.findChild<QPushButton*>(QStringLiteral("stateShowAll"));
    ASSERT_NE(showAll, nullptr);
    EXPECT_TRUE(showAll->isVisible());
    showAll->click();
    EXPECT_EQ(clicks, 1);

    pane.showSpinner();
    EXPECT_TRUE(pane.isSpinning());
    EXPECT_FALSE(showAll->isVisible());
    EXPECT_TRUE(pane.title().isEmpty());
    for (const char* name : {"stateSymbol", "stateTitle", "stateDescription"})
        EXPECT_FALSE(pane.findChild<QLabel*>(QString::fromLatin1(name))->isVisible()) << name;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(pane.findChild<QPushButton*>(QStringLiteral("stateShowAll")), nullptr);

    // A labelled spinner reads its label under it and to assistive technologies.
    pane.showSpinner(QStringLiteral("Searching\u2026"));
    EXPECT_TRUE(pane.findChild<QLabel*>(QStringLiteral("stateDescription"))->isVisible());
    EXPECT_EQ(pane.description(), QStringLiteral("Searching\u2026"));
    EXPECT_EQ(pane.accessibleName(), QStringLiteral("Searching\u2026"));

    pane.showError(StorageError(Code::network));
    EXPECT_FALSE(pane.isSpinning());
    EXPECT_EQ(pane.title(), StorageError(Code::network).presentation().title);
}

/// The colour of the most opaque pixel of the view's symbol: the ink it is drawn in.
QColor symbolInk(const ContentUnavailableView& view) {
    const QImage image =
        view.findChild<QLabel*>(QStringLiteral("stateSymbol"))->pixmap().toImage();
    QColor ink(Qt::transparent);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (const QColor pixel = image.pixelColor(x, y); pixel.alpha() > ink.alpha())
                ink = pixel;
    return ink;
}

bool sameColour(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) <= 3 && std::abs(a.green() - b.green()) <= 3 &&
           std::abs(a.blue() - b.blue()) <= 3;
}

TEST(ContentUnavailableView, ARowFailureWarnsInOrangeAndWhatFollowsIsInTheTextColour) {
    const QPalette original = QApplication::palette();
    ContentUnavailableView row(ContentUnavailableView::Shape::row);
    row.show();
    // Whatever failed, the row shows the filled triangle in orange.
    for (const Code code : {Code::offline, Code::reauthRequired, Code::network}) {
        SCOPED_TRACE(int(code));
        row.showError(StorageError(code));
        EXPECT_EQ(row.symbol(), QStringLiteral("exclamationmark.triangle.fill"));
        EXPECT_PRED2(sameColour, symbolInk(row), DS::failureColor());
    }
    // It stays orange in another palette, and a message after it is in the text colour again.
    QPalette dark = original;
    dark.setColor(QPalette::Window, QColor(0x20, 0x20, 0x20));
    dark.setColor(QPalette::WindowText, QColor(0xF0, 0xF0, 0xF0));
    QApplication::setPalette(dark);
    QCoreApplication::processEvents(); // a window takes the new palette from the event loop
    ASSERT_EQ(row.palette().color(QPalette::WindowText), QColor(0xF0, 0xF0, 0xF0));
    EXPECT_PRED2(sameColour, symbolInk(row), DS::failureColor());
    row.showMessage(QStringLiteral("folder"), QStringLiteral("Folder Is Empty"), QString());
    EXPECT_PRED2(sameColour, symbolInk(row), QColor(0xF0, 0xF0, 0xF0));
    QApplication::setPalette(original);

    // A pane's failure is drawn in the text colour, as the rest of the pane.
    ContentUnavailableView pane;
    pane.show();
    pane.showError(StorageError(Code::network));
    EXPECT_PRED2(sameColour, symbolInk(pane), pane.palette().color(QPalette::WindowText));
}

TEST(ElidedLabel, FitsItsLaidOutWidthWhenShownAndAfterChangesWhileHidden) {
    const QString longText = QStringLiteral("A rather long account name that cannot fit in the row");
    QWidget row;
    row.setFixedWidth(120);
    auto* layout = new QHBoxLayout(&row);
    auto* label = new ElidedLabel(longText, Qt::ElideRight, &row);
    layout->addWidget(label);

    row.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&row));
    EXPECT_TRUE(label->text().endsWith(QChar(0x2026))) << label->text().toStdString();
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->contentsRect().width());
    EXPECT_EQ(label->fullText(), longText);
    EXPECT_EQ(label->toolTip(), longText);

    // Changed while hidden, then shown again at the same size.
    label->hide();
    const QString other = QStringLiteral("Another name much too long for a row this narrow");
    label->setText(other);
    label->show();
    EXPECT_TRUE(label->text().endsWith(QChar(0x2026))) << label->text().toStdString();
    EXPECT_TRUE(other.startsWith(label->text().chopped(1)));

    label->setText(QStringLiteral("Short"));
    EXPECT_EQ(label->text(), QStringLiteral("Short"));
}

// The label asks for its whole text: beside a stretch it shows it whole; squeezed, it is cut at
// its end; widened again, it is whole again.
TEST(ElidedLabel, ShowsItsWholeTextWhereThereIsRoomAndCutsItsEndWhereThereIsNot) {
    const QString name = QStringLiteral("Quarterly field survey of the northern district.pdf");
    QWidget row;
    auto* layout = new QHBoxLayout(&row);
    auto* label = new ElidedLabel(name, Qt::ElideRight, &row);
    layout->addWidget(label);
    layout->addStretch(1);
    layout->addWidget(new QPushButton(QStringLiteral("OK"), &row));
    row.resize(label->sizeHint().width() + 200, 40);
    row.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&row));
    EXPECT_EQ(label->text(), name);
    EXPECT_FALSE(label->isElided());

    row.resize(220, 40);
    QApplication::processEvents();
    EXPECT_TRUE(label->isElided());
    EXPECT_TRUE(label->text().endsWith(QChar(0x2026))) << label->text().toStdString();
    EXPECT_TRUE(name.startsWith(label->text().chopped(1))) << label->text().toStdString();
    EXPECT_EQ(label->toolTip(), name);
    EXPECT_EQ(label->accessibleName(), name);

    row.resize(label->sizeHint().width() + 200, 40);
    QApplication::processEvents();
    EXPECT_EQ(label->text(), name);
}

TEST(AlertBox, WidensToShowItsWholeTitleAndCutsTheEndOfOneTooLongForTheScreen) {
    QWidget window;
    window.resize(700, 500);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QRect area = WindowPlacement::availableArea(&window);

    const QString title = QStringLiteral("The storage service is having trouble right now.");
    auto* box = new AlertBox(&window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setText(QStringLiteral("Try again."));
    box->setInformativeText(QStringLiteral("The service did not answer in time."));
    box->setFullTitle(title);
    box->open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box));
    EXPECT_GE(box->width(), WindowPlacement::widthForTitle(title, area));
    // A message box fits itself to its texts again on every layout request.
    QEvent relayout(QEvent::LayoutRequest);
    QApplication::sendEvent(box, &relayout);
    EXPECT_GE(box->width(), WindowPlacement::widthForTitle(title, area));
    EXPECT_EQ(box->windowTitle(), title);
    EXPECT_TRUE(QRect(area).contains(box->geometry()));
    box->close();

    const QString endless = QStringLiteral("Disconnect ") + QString(200, QLatin1Char('W'));
    auto* wide = new AlertBox(&window);
    wide->setAttribute(Qt::WA_DeleteOnClose);
    wide->setText(endless);
    wide->setFullTitle(endless);
    wide->open();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(wide));
    EXPECT_LE(wide->width(), area.width());
    EXPECT_TRUE(wide->windowTitle().endsWith(QChar(0x2026))) << wide->windowTitle().toStdString();
    EXPECT_TRUE(endless.startsWith(wide->windowTitle().chopped(1)));
    EXPECT_EQ(wide->fullTitle(), endless);
    EXPECT_EQ(wide->text(), endless); // the title line holds all of it
    wide->close();
}

// Buttons keep room between their label, their menu arrow and their border, whatever the
// desktop's style gives.
TEST(ButtonStyle, ButtonsKeepRoomAroundTheirLabelAndArrow) {
    ButtonStyle style;
    const int arrow = style.pixelMetric(QStyle::PM_MenuButtonIndicator);
    for (const bool withMenu : {false, true}) {
        for (const char* text : {"OK", "Upload 3 Files", "Continue with Google"}) {
            SCOPED_TRACE(std::string(text) + (withMenu ? " with a menu" : ""));
            QPushButton plain(QString::fromLatin1(text));
            QPushButton button(QString::fromLatin1(text));
            button.setStyle(&style);
            QMenu menu;
            if (withMenu) {
                plain.setMenu(&menu);
                button.setMenu(&menu);
            }
            const int label = button.fontMetrics().horizontalAdvance(button.text());
            const int needed = label + 2 * ButtonStyle::padding + (withMenu ? arrow : 0);
            EXPECT_GE(button.sizeHint().width(), needed);
            EXPECT_GE(button.sizeHint().width(), plain.sizeHint().width());
            EXPECT_EQ(button.sizeHint().height(), plain.sizeHint().height());
        }
    }

    QToolButton plain;
    QToolButton button;
    button.setStyle(&style);
    QMenu menu;
    for (QToolButton* tool : {&plain, &button}) {
        tool->setText(QStringLiteral("Work › Reports"));
        tool->setToolButtonStyle(Qt::ToolButtonTextOnly);
        tool->setPopupMode(QToolButton::InstantPopup);
        tool->setMenu(&menu);
    }
    EXPECT_GE(button.sizeHint().width(), plain.sizeHint().width() + arrow);
}

// On a dark palette a disabled toolbar symbol must read as disabled: its ink is the palette's
// disabled text colour, not the enabled one greyed by Qt (which stays light).
TEST(SymbolIcons, DisabledSymbolsTakeThePalettesDisabledInk) {
    const QPalette saved = QApplication::palette();
    QPalette dark = saved;
    dark.setColor(QPalette::Active, QPalette::WindowText, QColor(240, 240, 240));
    dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(90, 90, 90));
    dark.setColor(QPalette::Window, QColor(40, 40, 40));
    QApplication::setPalette(dark);
    const auto inkOf = [](const QPixmap& pixmap) {
        const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qAlpha(image.pixel(x, y)) == 255)
                    return QColor(image.pixel(x, y));
        return QColor();
    };
    for (const char* symbol : {"pencil", "chevron.left", "plus"}) {
        SCOPED_TRACE(symbol);
        const QIcon icon = SymbolIcons::icon(QString::fromLatin1(symbol));
        EXPECT_EQ(inkOf(icon.pixmap(24, QIcon::Normal)), QColor(240, 240, 240));
        EXPECT_EQ(inkOf(icon.pixmap(24, QIcon::Disabled)), QColor(90, 90, 90));
    }
    QApplication::setPalette(saved);
}
