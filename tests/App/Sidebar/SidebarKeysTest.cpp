// The sidebar by keyboard: Up and Down walk every row that can be chosen, over section titles.
#include "App/Sidebar/Sidebar.h"
#include "App/Sidebar/SidebarModel.h"
#include "tests/App/Model/AppModelFixture.h"

#include <QApplication>
#include <QListView>

using namespace tw;
using namespace tw::test;

TEST_F(AppModelFixture, SidebarArrowKeysWalkEveryChoosableRowOverSectionTitles) {
    const StorageAccount work = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
    const StorageAccount phone = storedAccount(ProviderKind::telegram, QStringLiteral("Phone"), 1);
    storeAccounts({work, phone});
    build();
    model->setHasCompletedOnboarding(true);
    Sidebar sidebar(*model);
    sidebar.resize(240, 400);
    sidebar.show();
    QApplication::setActiveWindow(&sidebar);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&sidebar));
    sidebar.list()->setFocus();

    model->setSelection(SidebarItem::storage(phone.id)); // the last row
    QCoreApplication::processEvents();
    const QList<SidebarItem> upwards = {SidebarItem::storage(work.id), SidebarItem::uploads(),
                                        SidebarItem::home()};
    for (const SidebarItem& expected : upwards) {
        QTest::keyClick(sidebar.list(), Qt::Key_Up);
        waitFor([&] { return model->selection() == expected; });
    }
    const QList<SidebarItem> downwards = {SidebarItem::uploads(), SidebarItem::storage(work.id),
                                          SidebarItem::storage(phone.id)};
    for (const SidebarItem& expected : downwards) {
        QTest::keyClick(sidebar.list(), Qt::Key_Down);
        waitFor([&] { return model->selection() == expected; });
    }
}
