#include "StorageCore/Transfers/SmartUploadStore.h"

#include "tests/support/InMemoryKeyValueStore.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace tw;
using namespace tw::test;
using Match = UploadRule::Match;
using Reason = UploadSuggestion::Reason;

namespace {

LocalFile pdf(const QString& name = "a.pdf") {
    return LocalFile{QUrl::fromLocalFile("/tmp/" + name), name, 5, "application/pdf"};
}

class SmartUploadStoreTest : public ::testing::Test {
protected:
    std::unique_ptr<SmartUploadStore> open() { return std::make_unique<SmartUploadStore>(kv); }

    std::shared_ptr<InMemoryKeyValueStore> kv = std::make_shared<InMemoryKeyValueStore>();
    QUuid a = QUuid::createUuid(), b = QUuid::createUuid();
};

} // namespace

TEST_F(SmartUploadStoreTest, FreshInstallationStartsEmptyAndWritesNothing) {
    auto store = open();
    EXPECT_TRUE(store->rules().isEmpty());
    EXPECT_EQ(store->history(), UploadHistory());
    EXPECT_FALSE(kv->peek(SmartUploadStore::rulesKey));
    EXPECT_FALSE(kv->peek(SmartUploadStore::historyKey));
}

TEST_F(SmartUploadStoreTest, RulesAndHistoryOutliveTheProcess) {
    {
        auto store = open();
        store->addRule(Match::fileExtension("pdf"), UploadTarget{a, "f", {"Docs"}});
        store->recordUpload(pdf(), UploadTarget{b, std::nullopt, {}});
    }
    auto reopened = open();
    ASSERT_EQ(reopened->rules().size(), 1);
    EXPECT_EQ(reopened->rules()[0].target, (UploadTarget{a, "f", {"Docs"}}));
    EXPECT_EQ(reopened->history().byKey.value("ext:pdf").size(), 1);
}

TEST_F(SmartUploadStoreTest, OneUnreadableDocumentDoesNotSpoilTheOther) {
    {
        auto store = open();
        store->addRule(Match::category(FileCategory::audio), UploadTarget{a, {}, {}});
    }
    kv->save(QJsonObject{{"byKey", 5}}, SmartUploadStore::historyKey);
    auto store = open();
    EXPECT_EQ(store->rules().size(), 1);
    EXPECT_EQ(store->history(), UploadHistory());
    // The unreadable history is kept aside, so the next record does not overwrite it.
    EXPECT_EQ(kv->setAsideKeys(),
              QStringList{SmartUploadStore::historyKey + QStringLiteral(".unreadable-1")});
    EXPECT_FALSE(kv->peek(SmartUploadStore::historyKey));

    kv->setFailLoads(true);
    auto blind = open();
    EXPECT_TRUE(blind->rules().isEmpty());
}

TEST_F(SmartUploadStoreTest, AddRuleReplacesTheSameMatchOnly) {
    auto store = open();
    const UploadRule category =
        store->addRule(Match::category(FileCategory::documents), UploadTarget{a, {}, {}});
    const UploadRule first = store->addRule(Match::fileExtension("pdf"), UploadTarget{a, {}, {}});
    store->addRule(Match::category(FileCategory::photos), UploadTarget{a, {}, {}});
    store->setRule(first.id, false);
    const UploadRule second = store->addRule(Match::fileExtension("pdf"), UploadTarget{b, {}, {}});
    ASSERT_EQ(store->rules().size(), 3);
    EXPECT_EQ(store->rules()[0], category);
    EXPECT_EQ(store->rules().last(), second);
    EXPECT_NE(second.id, first.id);
    EXPECT_TRUE(second.isEnabled);
    EXPECT_EQ(second.target.accountID, b);
}

TEST_F(SmartUploadStoreTest, WritesFollowThePartsRules) {
    auto store = open();
    QSignalSpy rules(store.get(), &SmartUploadStore::rulesChanged);
    QSignalSpy history(store.get(), &SmartUploadStore::historyChanged);
    const UploadRule r = store->addRule(Match::fileExtension("pdf"), UploadTarget{a, {}, {}});
    EXPECT_EQ(kv->saveCount(SmartUploadStore::rulesKey), 1);

    store->setRule(QUuid::createUuid(), false); // unknown: nothing
    EXPECT_EQ(kv->saveCount(SmartUploadStore::rulesKey), 1);
    store->setRule(r.id, true); // same value: still written
    EXPECT_EQ(kv->saveCount(SmartUploadStore::rulesKey), 2);
    store->removeRule(QUuid::createUuid()); // unknown: written anyway
    EXPECT_EQ(kv->saveCount(SmartUploadStore::rulesKey), 3);
    store->recordUpload(LocalFile{QUrl(), "README", 1, "application/octet-stream"},
                        UploadTarget{a, {}, {}}); // no keys: still written
    EXPECT_EQ(kv->saveCount(SmartUploadStore::historyKey), 1);
    store->forget(QUuid::createUuid()); // nothing of it: both written
    EXPECT_EQ(kv->saveCount(SmartUploadStore::rulesKey), 4);
    EXPECT_EQ(kv->saveCount(SmartUploadStore::historyKey), 2);
    EXPECT_EQ(rules.count(), 4); // in-place changes always notify
    EXPECT_EQ(history.count(), 2);
}

TEST_F(SmartUploadStoreTest, ForgettingAnAccountPrunesItsRulesAndHistory) {
    auto store = open();
    store->addRule(Match::fileExtension("pdf"), UploadTarget{a, "f", {}});
    const UploadRule kept = store->addRule(Match::fileExtension("zip"), UploadTarget{b, {}, {}});
    store->recordUpload(pdf(), UploadTarget{a, "f", {}});
    store->recordUpload(pdf(), UploadTarget{b, {}, {}});
    store->forget(a);
    EXPECT_EQ(store->rules(), QList<UploadRule>{kept});
    for (const auto& entries : store->history().byKey)
        for (const auto& entry : entries)
            EXPECT_EQ(entry.target.accountID, b);

    auto reopened = open();
    EXPECT_EQ(reopened->rules(), QList<UploadRule>{kept});
    EXPECT_EQ(reopened->history(), store->history());
}

TEST_F(SmartUploadStoreTest, RecordedUploadBecomesTheUsualSuggestion) {
    auto store = open();
    const UploadTarget target{a, "f", {"Invoices"}};
    store->recordUpload(pdf(), target);
    const QList<UploadCandidate> storages{UploadCandidate{a, true, {}, {}, true}};
    EXPECT_EQ(store->suggest(pdf("b.pdf"), storages), (UploadSuggestion{target, Reason::usual(1)}));
}

TEST_F(SmartUploadStoreTest, ResetRemovesBothDocuments) {
    auto store = open();
    store->addRule(Match::fileExtension("pdf"), UploadTarget{a, {}, {}});
    store->recordUpload(pdf(), UploadTarget{a, {}, {}});
    QSignalSpy rules(store.get(), &SmartUploadStore::rulesChanged);
    store->reset();
    store->reset(); // equal values again: no notification
    EXPECT_EQ(rules.count(), 1);
    EXPECT_FALSE(kv->peek(SmartUploadStore::rulesKey));
    EXPECT_FALSE(kv->peek(SmartUploadStore::historyKey));
    EXPECT_TRUE(open()->rules().isEmpty());
}

TEST_F(SmartUploadStoreTest, FailedSaveKeepsTheChangeForThisRunOnly) {
    auto store = open();
    store->addRule(Match::fileExtension("pdf"), UploadTarget{a, {}, {}});
    kv->setFailSaves(true);
    store->addRule(Match::fileExtension("zip"), UploadTarget{a, {}, {}});
    EXPECT_EQ(store->rules().size(), 2);
    kv->setFailSaves(false);
    EXPECT_EQ(open()->rules().size(), 1);
}
