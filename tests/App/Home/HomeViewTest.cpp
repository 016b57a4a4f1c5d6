// The home pane against the real model over fake back ends: the empty state, the overview's
// texts, one row per account with its state, and the newest activity.
#include "App/DesignSystem/CombinedUsageBar.h"
#include "App/DesignSystem/ElidedLabel.h"
#include "App/DesignSystem/UsageMeter.h"
#include "App/Home/HomeView.h"
#include "StorageCore/Activity/ActivityLog.h"
#include "tests/App/Model/AppModelFixture.h"

#include <QApplication>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QPushButton>
#include <QStackedLayout>
#include <QToolButton>

using namespace tw;
using namespace tw::test;

namespace {

constexpr qint64 GB = 1073741824;

class HomeViewTest : public AppModelFixture {
protected:
    template <typename T> static T* child(QWidget* parent, const QString& name) {
        T* found = parent->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    }
    static QStringList texts(QWidget* parent, const QString& name) {
        QStringList result;
        for (QLabel* label : parent->findChildren<QLabel*>(name))
            if (label->isVisibleTo(parent))
                result.append(label->text());
        return result;
    }
    static QStringList rowStates(HomeView& home) {
        QStringList result;
        for (QWidget* row : home.findChildren<QWidget*>(QStringLiteral("storageRow"))) {
            QString state = row->findChild<ElidedLabel*>(QStringLiteral("storageRowAlias"))->fullText();
            for (QLabel* label : row->findChildren<QLabel*>())
                if (label->isVisibleTo(row) && (label->objectName() == QStringLiteral("storageRowStatus") ||
                                                label->objectName() == QStringLiteral("storageRowUsage")))
                    state += QStringLiteral(" | ") + label->text();
            state += QStringLiteral(" | ") +
                     row->findChild<QPushButton*>(QStringLiteral("storageRowButton"))->text();
            result.append(state);
        }
        return result;
    }
};

TEST_F(HomeViewTest, WithoutAccountsItOnlyInvitesToConnect) {
    AppModel& app = build();
    HomeView home(app);
    home.show();
    auto* empty = child<QWidget>(&home, QStringLiteral("homeEmpty"));
    EXPECT_TRUE(empty->isVisible());
    EXPECT_FALSE(child<QWidget>(&home, QStringLiteral("homeForm"))->isVisible());
    drive->setConnection(connection(QStringLiteral("alice")));
    child<QPushButton>(&home, QStringLiteral("homeConnectGoogle"))->click();
    EXPECT_EQ(app.connectingKind(), ProviderKind::googleDrive);
    waitFor([&] { return !app.isConnecting(); });
    // The first account turns the pane into the overview.
    waitFor([&] { return child<QWidget>(&home, QStringLiteral("homeForm"))->isVisible(); });
    EXPECT_EQ(texts(&home, QStringLiteral("homeStorageCount")), QStringList{QStringLiteral("1 Storage")});
}

TEST_F(HomeViewTest, OverviewTextsFollowTheQuotas) {
    EXPECT_EQ(HomeView::totalText(std::nullopt), QStringLiteral("Usage unavailable"));
    EXPECT_EQ(HomeView::totalText(StorageQuota(3 * GB)), QStringLiteral("3 GB used"));
    EXPECT_EQ(HomeView::totalText(StorageQuota(3 * GB, 15 * GB)), QStringLiteral("3 GB of 15 GB used"));
    EXPECT_EQ(HomeView::storageCount(1), QStringLiteral("1 Storage"));
    EXPECT_EQ(HomeView::storageCount(3), QStringLiteral("3 Storages"));

    StorageAccount work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"), 0);
    work.quota = StorageQuota(14 * GB, 15 * GB); // over 90 %
    StorageAccount home = storedAccount(ProviderKind::googleDrive, QStringLiteral("Home"), 1);
    home.quota = StorageQuota(2 * GB, GB); // over its limit
    StorageAccount chats = storedAccount(ProviderKind::telegram, QStringLiteral("Chats"), 2);
    storeAccounts({work, home, chats});
    AppModel& app = build();
    HomeView view(app);
    view.show();
    EXPECT_EQ(texts(&view, QStringLiteral("homeStorageCount")), QStringList{QStringLiteral("3 Storages")});
    EXPECT_EQ(texts(&view, QStringLiteral("homeTotal")), QStringList{QStringLiteral("16 GB of 16 GB used")});
    // More used than the limits: nothing available, never a negative amount.
    EXPECT_EQ(texts(&view, QStringLiteral("homeAvailable")), QStringList{QStringLiteral("Zero KB available")});
    const auto meters = view.findChildren<UsageMeter*>();
    ASSERT_EQ(meters.size(), 3);
    EXPECT_NEAR(*UsageMeter::fraction(work.quota), 14.0 / 15.0, 1e-9);
    EXPECT_EQ(*UsageMeter::fraction(home.quota), 1.0);
    EXPECT_EQ(rowStates(view),
              (QStringList{QStringLiteral("Work | 14 GB of 15 GB | Open"),
                           QStringLiteral("Home | 2 GB of 1 GB | Open"),
                           QStringLiteral("Chats | \u221e No storage limit | Open")}));
}

TEST_F(HomeViewTest, AccountsWithoutLimitsOrOnlyTelegramShowNoAvailableText) {
    StorageAccount unlimited = storedAccount(ProviderKind::googleDrive, QStringLiteral("Team"));
    unlimited.quota = StorageQuota(5 * GB);
    StorageAccount limited = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"), 1);
    limited.quota = StorageQuota(GB, 15 * GB);
    storeAccounts({unlimited, limited});
    AppModel& app = build();
    HomeView view(app);
    view.show();
    EXPECT_EQ(texts(&view, QStringLiteral("homeTotal")), QStringList{QStringLiteral("6 GB used")});
    EXPECT_TRUE(texts(&view, QStringLiteral("homeAvailable")).isEmpty());
}

TEST_F(HomeViewTest, AnExpiredSignInOffersReconnectWhateverTheService) {
    StorageAccount work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
    work.status = StorageAccount::Status::reauthRequired;
    StorageAccount chats = storedAccount(ProviderKind::telegram, QStringLiteral("Chats"), 1);
    chats.status = StorageAccount::Status::reauthRequired;
    StorageAccount markup = storedAccount(ProviderKind::googleDrive, QStringLiteral("<b>R&D</b>"), 2);
    storeAccounts({work, chats, markup});
    AppModel& app = build();
    HomeView view(app);
    view.show();
    const QStringList rows = rowStates(view);
    EXPECT_EQ(rows[0], QStringLiteral("Work | Sign-in expired | Reconnect\u2026"));
    EXPECT_EQ(rows[1], QStringLiteral("Chats | Sign-in expired | Reconnect\u2026"));
    // A name with markup is shown as typed.
    EXPECT_TRUE(rows[2].startsWith(QStringLiteral("<b>R&D</b> | Usage unavailable")));
    for (QLabel* label : view.findChildren<QLabel*>()) {
        if (!label->text().isEmpty()) {
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
        }
    }

    // Open selects the storage; Reconnect… reconnects.
    view.findChildren<QPushButton*>(QStringLiteral("storageRowButton"))[2]->click();
    EXPECT_EQ(app.selection(), SidebarItem::storage(markup.id));
    auto gate = drive->gateNext(FakeStorageProvider::Op::connect);
    view.findChildren<QPushButton*>(QStringLiteral("storageRowButton"))[0]->click();
    EXPECT_TRUE(app.isConnecting());
    gate->release();
    waitFor([&] { return !app.isConnecting(); });
}

TEST_F(HomeViewTest, RecentActivityListsTheEightNewest) {
    StorageAccount work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
    storeAccounts({work});
    AppModel& app = build();
    HomeView view(app);
    view.show();
    EXPECT_EQ(texts(&view, QStringLiteral("homeActivityHint")),
              QStringList{QStringLiteral("Uploads, downloads and changes appear here.")});
    for (int i = 0; i < 20; ++i)
        app.activity()->record(ActivityEvent::Kind::uploaded, work,
                               QStringLiteral("file%1.txt").arg(i));
    QCoreApplication::processEvents(); // one update for the twenty changes
    QCoreApplication::processEvents(); // new rows show on the next turn
    const auto summaries = view.findChildren<ElidedLabel*>(QStringLiteral("activitySummary"));
    ASSERT_EQ(summaries.size(), 8);
    EXPECT_TRUE(summaries.first()->fullText().contains(QStringLiteral("file19.txt")));
    EXPECT_TRUE(summaries.last()->fullText().contains(QStringLiteral("file12.txt")));
    const QStringList dates = texts(&view, QStringLiteral("activityDate"));
    ASSERT_EQ(dates.size(), 8);
    EXPECT_EQ(dates.first(), QStringLiteral("Just now"));
    EXPECT_TRUE(texts(&view, QStringLiteral("homeActivityHint")).isEmpty());
}

TEST_F(HomeViewTest, RefreshShowsSpinnersUntilEveryQuotaIsBack) {
    StorageAccount work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
    storeAccounts({work});
    AppModel& app = build();
    HomeView view(app);
    view.show();
    drive->setQuota(work.id, StorageQuota(GB, 15 * GB));
    auto gate = drive->gateNext(FakeStorageProvider::Op::quota);
    child<QToolButton>(&view, QStringLiteral("homeRefresh"))->click();
    EXPECT_TRUE(view.isRefreshing());
    ASSERT_TRUE(gate->waitEntered());
    waitFor([&] { return child<QWidget>(&view, QStringLiteral("storageRowSpinner"))->isVisible(); });
    EXPECT_FALSE(child<QToolButton>(&view, QStringLiteral("homeRefresh"))->isEnabled());
    gate->release();
    waitFor([&] { return !view.isRefreshing(); });
    waitFor([&] { return !child<QWidget>(&view, QStringLiteral("storageRowSpinner"))->isVisible(); });
    EXPECT_EQ(rowStates(view).first(), QStringLiteral("Work | 1 GB of 15 GB | Open"));
}

} // namespace

TEST_F(HomeViewTest, ManyAccountsWrapTheLegendInsteadOfWideningThePane) {
    QList<StorageAccount> accounts;
    for (int i = 0; i < 10; ++i) {
        StorageAccount account = storedAccount(
            ProviderKind::googleDrive, QStringLiteral("Family photo archive %1").arg(i), i);
        account.quota = StorageQuota(GB, 15 * GB);
        accounts.append(account);
    }
    storeAccounts(accounts);
    AppModel& app = build();
    HomeView view(app);
    view.resize(760, 600);
    view.show();
    auto* scroll = child<QScrollArea>(&view, QStringLiteral("homeForm"));
    QWidget* entries = child<QWidget>(&view, QStringLiteral("homeLegendEntries"));
    ASSERT_TRUE(scroll && entries);
    QApplication::processEvents();
    EXPECT_FALSE(scroll->horizontalScrollBar()->isVisible());
    EXPECT_LE(entries->mapTo(&view, QPoint(entries->width(), 0)).x(), view.width());
    // Every name shows whole, on more than one line.
    QSet<int> lines;
    for (QLabel* label : entries->findChildren<QLabel*>()) {
        if (label->text().isEmpty())
            continue;
        EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
        lines.insert(label->mapTo(entries, QPoint()).y());
    }
    EXPECT_GT(lines.size(), 1);
    EXPECT_EQ(texts(&view, QStringLiteral("homeAvailable")),
              QStringList{QStringLiteral("140 GB available")});
}
