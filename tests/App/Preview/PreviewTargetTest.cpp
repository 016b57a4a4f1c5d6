// A preview window's identity: equal targets share one window, any differing field opens
// another, and the stored form round-trips and refuses malformed values.
#include "App/Preview/PreviewTarget.h"

#include <QHash>
#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace tw;

namespace {

const QUuid account = QUuid::fromString(QStringLiteral("{6f1c2a34-8d0b-4c55-9a77-0e3b5f1d2c11}"));

PreviewTarget base() {
    return PreviewTarget{FileRef{account, QStringLiteral("f1")}, QStringLiteral("folder"),
                         FileCategory::photos, std::nullopt};
}

} // namespace

TEST(PreviewTarget, EveryFieldTakesPartInIdentity) {
    QList<PreviewTarget> targets{base()};
    auto with = [](auto change) {
        PreviewTarget target = base();
        change(target);
        return target;
    };
    targets << with([](PreviewTarget& t) { t.file.providerID = QStringLiteral("f2"); })
            << with([](PreviewTarget& t) { t.file.accountID = QUuid::createUuid(); })
            << with([](PreviewTarget& t) { t.folderID.reset(); })
            << with([](PreviewTarget& t) { t.folderID = QString(); })
            << with([](PreviewTarget& t) { t.filter.reset(); })
            << with([](PreviewTarget& t) { t.filter = FileCategory::videos; })
            << with([](PreviewTarget& t) { t.searchQuery = QString(); });
    QHash<PreviewTarget, int> windows;
    for (int i = 0; i < targets.size(); ++i)
        windows.insert(targets[i], i);
    EXPECT_EQ(windows.size(), targets.size()); // an absent field differs from an empty one
    windows.insert(base(), 99);
    EXPECT_EQ(windows.size(), targets.size()); // an equal target finds the same window
    EXPECT_EQ(qHash(base()), qHash(with([](PreviewTarget&) {})));
}

TEST(PreviewTarget, StoredFormRoundTripsAndLeavesAbsentFieldsOut) {
    PreviewTarget search{FileRef{account, QStringLiteral("x")}, std::nullopt, std::nullopt,
                         QStringLiteral("report")};
    for (const PreviewTarget& target : {base(), search}) {
        const QJsonObject json = target.toJson();
        EXPECT_EQ(PreviewTarget::fromJson(json), target);
    }
    const QJsonObject json = search.toJson();
    EXPECT_FALSE(json.contains(QStringLiteral("folderID")));
    EXPECT_FALSE(json.contains(QStringLiteral("filter")));
    EXPECT_EQ(json.value(QStringLiteral("searchQuery")).toString(), QStringLiteral("report"));
    EXPECT_EQ(base().toJson().value(QStringLiteral("filter")).toString(), QStringLiteral("photos"));
}

TEST(PreviewTarget, MalformedValuesAreRefusedWhole) {
    const QJsonObject good = base().toJson();
    auto changed = [&](const char* key, const QJsonValue& value) {
        QJsonObject object = good;
        object.insert(QLatin1String(key), value);
        return object;
    };
    QJsonObject noFile = good;
    noFile.remove(QStringLiteral("file"));
    const QList<QJsonObject> bad{
        noFile,
        changed("file", QStringLiteral("f1")),
        changed("file", QJsonObject{{QStringLiteral("providerID"), QStringLiteral("f1")}}),
        changed("folderID", 3),
        changed("filter", QStringLiteral("Photos")),
        changed("searchQuery", QJsonValue::Null),
    };
    for (const QJsonObject& object : bad)
        EXPECT_FALSE(PreviewTarget::fromJson(object).has_value())
            << QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}
