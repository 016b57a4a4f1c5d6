// The sidebar over the real model: rows and sections, badges and accessibility per account
// state, the two-way selection, the account menu and the connect menu.
#include "App/Sidebar/Sidebar.h"
#include "App/Sidebar/SidebarModel.h"
#include "StorageCore/Transfers/UploadManager.h"
#include "tests/App/Model/AppModelFixture.h"
#include "tests/support/RowRanges.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QFile>
#include <QListView>
#include <QMenu>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>

using namespace tw;
using namespace tw::test;
using Op = FakeStorageProvider::Op;
using RowKind = SidebarModel::Row::Kind;

namespace {

class SidebarTest : public AppModelFixture {
protected:
    void SetUp() override {
        AppModelFixture::SetUp();
        work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
        phone = storedAccount(ProviderKind::telegram, QStringLiteral("Phone"), 1);
        expired = storedAccount(ProviderKind::googleDrive, QStringLiteral("Old"), 2);
        expired.status = StorageAccount::Status::reauthRequired;
    }
    std::unique_ptr<Sidebar> show(const QList<StorageAccount>& accounts) {
        storeAccounts(accounts);
        build();
        auto sidebar = std::make_unique<Sidebar>(*model);
        sidebar->resize(240, 400);
        sidebar->show();
        return sidebar;
    }
    static QStringList titles(const SidebarModel& rows) {
        QStringList list;
        for (int i = 0; i < rows.rowCount(); ++i) {
            const QString text = rows.index(i).data().toString();
            list.append(rows.row(i).kind == RowKind::header
                            ? QStringLiteral("[") + text + QStringLiteral("]")
                            : text);
        }
        return list;
    }
    static int rowOfAccount(const SidebarModel& rows, const QUuid& id) {
        return rows.rowOf(SidebarItem::storage(id));
    }
    QStringList menuTitles(Sidebar& sidebar, int row, QList<bool>* enabled = nullptr) {
        std::unique_ptr<QMenu> menu(sidebar.menuForRow(row));
        QStringList list;
        if (!menu)
            return list;
        for (QAction* action : menu->actions()) {
            list.append(action->isSeparator() ? QStringLiteral("-") : action->text());
            if (enabled)
                enabled->append(action->isEnabled());
        }
        return list;
    }

    StorageAccount work, phone, expired;
};

} // namespace

TEST_F(SidebarTest, RowsGroupAccountsByServiceAndSectionsExistOnlyWithAccounts) {
    struct Case {
        const char* what;
        QList<StorageAccount> accounts;
        QStringList titles;
    };
    StorageAccount second = storedAccount(ProviderKind::telegram, QStringLiteral("Tablet"), 3);
    const Case cases[] = {
        {"no accounts", {}, {"Home", "Smart Upload"}},
        {"only Telegram",
         {phone, second},
         {"Home", "Smart Upload", "[Telegram]", "Phone", "Tablet"}},
        {"both, Drive first whatever the list order",
         {phone, work, second, expired},
         {"Home", "Smart Upload", "[Google Drive]", "Work", "Old", "[Telegram]", "Phone",
          "Tablet"}},
    };
    for (const Case& c : cases) {
        auto sidebar = show(c.accounts);
        QAbstractItemModelTester tester(sidebar->rows(),
                                        QAbstractItemModelTester::FailureReportingMode::Fatal);
        EXPECT_EQ(titles(*sidebar->rows()), c.titles) << c.what;
        EXPECT_NE(sidebar->connectButton(), nullptr);
        for (int i = 0; i < sidebar->rows()->rowCount(); ++i)
            EXPECT_EQ(
                bool(sidebar->rows()->flags(sidebar->rows()->index(i)) & Qt::ItemIsSelectable),
                sidebar->rows()->row(i).kind != RowKind::header);
    }

    // A section follows its accounts: it goes with the last one.
    auto sidebar = show({work, phone});
    model->disconnect(phone.id);
    waitFor([&] { return !titles(*sidebar->rows()).contains(QStringLiteral("[Telegram]")); });
    EXPECT_EQ(titles(*sidebar->rows()),
              (QStringList{"Home", "Smart Upload", "[Google Drive]", "Work"}));
}

TEST_F(SidebarTest, AccountsThatComeOrGoAreRowRangesAndOnlyChangedRowsRepaint) {
    StorageAccount tablet = storedAccount(ProviderKind::telegram, QStringLiteral("Tablet"), 3);
    auto sidebar = show({work, phone, tablet});
    SidebarModel* rows = sidebar->rows();
    QAbstractItemModelTester tester(rows, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model->setSelection(SidebarItem::storage(work.id));
    QSignalSpy resets(rows, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(rows, &QAbstractItemModel::rowsInserted);
    QSignalSpy removed(rows, &QAbstractItemModel::rowsRemoved);
    QSignalSpy changed(rows, &QAbstractItemModel::dataChanged);

    // A starting upload repaints the Smart Upload row (its count) and no other.
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("a.txt")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("hello") == 5);
    file.close();
    auto gate = drive->gateNext(Op::upload);
    model->upload({QUrl::fromLocalFile(file.fileName())},
                  model->destination(work.id, std::nullopt));
    ASSERT_TRUE(gate->waitEntered());
    QCoreApplication::processEvents();
    EXPECT_TRUE(rows->hasActiveUploads());
    ASSERT_FALSE(changed.isEmpty());
    for (const QString& range : ranges(changed, 0))
        EXPECT_EQ(range, QStringLiteral("1-1"));
    gate->release();
    waitFor([&] { return !model->uploads()->hasActiveUploads(); });

    // A renamed account repaints its own row.
    changed.clear();
    model->accounts()->rename(phone.id, QStringLiteral("Pocket"));
    EXPECT_EQ(ranges(changed, 0), QStringList{QStringLiteral("5-5")});

    // Accounts that go leave as ranges; the section goes with its last account.
    model->disconnect(phone.id);
    waitFor([&] { return rows->rowCount() == 6; });
    model->disconnect(tablet.id);
    waitFor([&] { return rows->rowCount() == 4; });
    EXPECT_EQ(ranges(removed, 1), (QStringList{QStringLiteral("5-5"), QStringLiteral("4-5")}));

    // A new account comes in with its section.
    drive->setConnection(connection(QStringLiteral("second")));
    telegram->setConnection(connection(QStringLiteral("phone2"), ProviderKind::telegram));
    model->accounts()->connectNewAccount(ProviderKind::telegram);
    waitFor([&] { return rows->rowCount() == 6; });
    EXPECT_EQ(ranges(inserted, 1), QStringList{QStringLiteral("4-5")});
    EXPECT_EQ(resets.count(), 0);
    // The selection stayed on its account throughout.
    EXPECT_EQ(rowOfAccount(*rows, work.id), 3);
    EXPECT_EQ(model->selection(), SidebarItem::storage(work.id));
}

TEST_F(SidebarTest, AccountRowsShowTheirStateInBadgeAndAccessibility) {
    StorageAccount measured =
        storedAccount(ProviderKind::googleDrive, QStringLiteral("Home files"), 5);
    measured.quota = StorageQuota(3LL << 30, 15LL << 30);
    StorageAccount limitless = phone;
    limitless.quota = StorageQuota(5LL << 30);
    struct Case {
        const char* what;
        StorageAccount account;
        QString badge;
        QString value;
    };
    const Case cases[] = {
        {"expired sign-in", expired, "", "Needs to reconnect"},
        {"Drive without a known quota", work, "", "Usage unavailable"},
        {"Drive with a quota", measured, "3 GB", "3 GB of 15 GB"},
        {"Telegram, whatever its quota", limitless, "\u221e", "No storage limit"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SidebarModel::badgeText(c.account), c.badge) << c.what;
        EXPECT_EQ(SidebarModel::accessibleValue(c.account), c.value) << c.what;
    }
    auto sidebar = show({work});
    const QModelIndex row = sidebar->rows()->index(rowOfAccount(*sidebar->rows(), work.id));
    EXPECT_EQ(row.data(Qt::AccessibleTextRole).toString(),
              QStringLiteral("Work, Google Drive, work@example.com"));
    EXPECT_EQ(row.data(Qt::ToolTipRole).toString(),
              QStringLiteral("Google Drive \u00b7 work@example.com"));
}

TEST_F(SidebarTest, SelectionGoesBothWaysBetweenListAndModel) {
    auto sidebar = show({work, phone});
    QListView* list = sidebar->list();
    EXPECT_EQ(list->currentIndex().row(), 0) << "Home is selected at start";

    const int phoneRow = rowOfAccount(*sidebar->rows(), phone.id);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(sidebar->rows()->index(phoneRow)).center());
    EXPECT_EQ(model->selection(), SidebarItem::storage(phone.id));

    // A header row cannot be chosen: the selection stays.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualRect(sidebar->rows()->index(2)).center());
    EXPECT_EQ(model->selection(), SidebarItem::storage(phone.id));

    model->setSelection(SidebarItem::uploads());
    EXPECT_EQ(list->selectionModel()->selectedRows().value(0).row(), 1);
    model->setSelection(SidebarItem::storage(work.id));
    EXPECT_EQ(list->selectionModel()->selectedRows().value(0).row(),
              rowOfAccount(*sidebar->rows(), work.id));
}

TEST_F(SidebarTest, AccountMenuUploadsToTheRootAndReconnectsExpiredAccounts) {
    auto sidebar = show({work, expired});
    model->setPath(work.id, {{"d", "Docs"}});
    model->setSelection(SidebarItem::home());

    QList<bool> enabled;
    const int workRow = rowOfAccount(*sidebar->rows(), work.id);
    EXPECT_EQ(menuTitles(*sidebar, workRow, &enabled),
              (QStringList{"Upload Files\u2026", "-", "Manage Accounts\u2026"}));
    EXPECT_TRUE(enabled.first());
    enabled.clear();
    EXPECT_EQ(menuTitles(*sidebar, rowOfAccount(*sidebar->rows(), expired.id), &enabled),
              (QStringList{"Upload Files\u2026", "Reconnect\u2026", "-", "Manage Accounts\u2026"}));
    EXPECT_FALSE(enabled.first());
    EXPECT_EQ(sidebar->menuForRow(0), nullptr) << "Home has no menu";

    std::unique_ptr<QMenu> menu(sidebar->menuForRow(workRow));
    menu->findChild<QAction*>(QStringLiteral("sidebarUploadFiles"))->trigger();
    EXPECT_EQ(model->selection(), SidebarItem::storage(work.id));
    EXPECT_EQ(panels->asked, QStringList{QStringLiteral("Upload | Upload to Work")});

    QSignalSpy manage(sidebar.get(), &Sidebar::manageAccountsRequested);
    menu->findChild<QAction*>(QStringLiteral("sidebarManageAccounts"))->trigger();
    EXPECT_EQ(manage.count(), 1);

    drive->setConnection(connection(expired.providerAccountID));
    std::unique_ptr<QMenu> expiredMenu(
        sidebar->menuForRow(rowOfAccount(*sidebar->rows(), expired.id)));
    expiredMenu->findChild<QAction*>(QStringLiteral("sidebarReconnect"))->trigger();
    EXPECT_TRUE(model->isConnecting());
    EXPECT_FALSE(sidebar->connectButton()->isEnabled()) << "no second sign-in while one runs";
    waitFor([&] { return !model->isConnecting(); });
    EXPECT_TRUE(sidebar->connectButton()->isEnabled());
    EXPECT_EQ(SidebarModel::accessibleValue(
                  sidebar->rows()->row(rowOfAccount(*sidebar->rows(), expired.id)).account),
              QStringLiteral("Usage unavailable"));
}

TEST_F(SidebarTest, SmartUploadBadgeCountsQueuedAndRunningUploads) {
    auto sidebar = show({work});
    QTemporaryDir dir;
    QList<QUrl> urls;
    for (int i = 0; i < 4; ++i) {
        QFile f(dir.filePath(QStringLiteral("f%1.txt").arg(i)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("x");
        urls.append(QUrl::fromLocalFile(f.fileName()));
    }
    auto gate = drive->gateNext(Op::upload);
    model->uploads()->setMaxConcurrentUploads(1);
    model->upload(urls, model->destination(work.id, std::nullopt));
    ASSERT_TRUE(gate->waitEntered());
    const QModelIndex uploads = sidebar->rows()->index(1);
    EXPECT_EQ(sidebar->rows()->activeUploads(), 4);
    EXPECT_EQ(uploads.data(Qt::AccessibleDescriptionRole).toString(), QStringLiteral("4"));
    gate->release();
    waitFor([&] { return !model->uploads()->hasActiveUploads(); });
    EXPECT_EQ(sidebar->rows()->activeUploads(), 0);
    EXPECT_FALSE(uploads.data(Qt::AccessibleDescriptionRole).isValid());
}

TEST_F(SidebarTest, ConnectMenuOffersBothServices) {
    auto sidebar = show({});
    QToolButton* button = sidebar->connectButton();
    EXPECT_EQ(button->accessibleName(), QStringLiteral("Connect Storage"));
    EXPECT_EQ(button->toolTip(), QStringLiteral("Connect a storage"));
    QStringList items;
    for (QAction* action : button->menu()->actions())
        items.append(action->text());
    EXPECT_EQ(items, (QStringList{"Google Drive Account\u2026", "Telegram Account\u2026"}));
    auto gate = drive->gateNext(Op::connect);
    button->menu()->findChild<QAction*>(QStringLiteral("connectGoogleDrive"))->trigger();
    EXPECT_TRUE(model->isConnecting());
    EXPECT_FALSE(button->isEnabled());
    gate->release();
    waitFor([&] { return !model->isConnecting(); });
}
