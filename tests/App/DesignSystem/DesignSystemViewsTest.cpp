// The shared views: palette wrapping, the combined usage bar's segments and texts, and the
// empty-state view's symbols, buttons and recovery.
#include "App/DesignSystem/CombinedUsageBar.h"
#include "App/DesignSystem/DesignSystem.h"
#include "App/DesignSystem/ElidedLabel.h"
#include "App/DesignSystem/ContentUnavailableView.h"
#include "App/DesignSystem/SymbolIcons.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

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
              QStringLiteral("exclamationmark.triangle.fill"));
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
    int tinted = 0;
    for (const char* symbol : {"pencil", "chevron.left", "plus"}) {
        SCOPED_TRACE(symbol);
        const QIcon icon = SymbolIcons::icon(QString::fromLatin1(symbol)); // sets the theme
        const QString name = SymbolIcons::themeName(QString::fromLatin1(symbol));
        if (!QIcon::fromTheme(name).isNull() || QIcon::fromTheme(name + "-symbolic").isNull())
            continue; // a full-colour theme icon, or drawn here: not tinted
        ++tinted;
        EXPECT_EQ(inkOf(icon.pixmap(24, QIcon::Normal)), QColor(240, 240, 240));
        EXPECT_EQ(inkOf(icon.pixmap(24, QIcon::Disabled)), QColor(90, 90, 90));
    }
    QApplication::setPalette(saved);
    if (tinted == 0)
        GTEST_SKIP() << "the icon theme has no symbolic icons for these symbols";
}
