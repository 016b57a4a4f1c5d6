#include "tests/TelegramProvider/TelegramTestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

using namespace tw;
using namespace tw::test;
using Code = StorageError::Code;

namespace {

class TDJSONRuntimeTest : public FakeTDLibTest {
protected:
    std::shared_ptr<TDJSONClient> newClient() {
        return std::static_pointer_cast<TDJSONClient>(runtime->makeClient());
    }
    /// The next update of a client that is not TDLib's start-up noise.
    static TDObject nextUpdate(TDClient& client, const QString& type) {
        while (auto update = client.updates().pop()) {
            if (update->type() == type)
                return *update;
        }
        ADD_FAILURE() << "stream ended before " << type.toStdString();
        return {};
    }
};

QStringList extras(const QJsonArray& requests, int clientID) {
    QStringList tags;
    for (const auto& value : requests) {
        const QJsonObject object = value.toObject();
        if (object.value("@client_id").toInt() == clientID && !object.contains("@execute"))
            tags.append(object.value("@extra").toString(QStringLiteral("-")));
    }
    return tags;
}

} // namespace

TEST(TDJSONRuntimeLoading, CandidatesAndFailures) {
    qputenv("TDJSON_PATH", "/nowhere/libtdjson.so");
    const QStringList candidates = TDJSONRuntime::defaultCandidates();
    ASSERT_GE(candidates.size(), 2);
    EXPECT_EQ(candidates.first(), QStringLiteral("/nowhere/libtdjson.so"));
    EXPECT_EQ(candidates.last(), QStringLiteral("libtdjson.so"));
    qunsetenv("TDJSON_PATH");
    const QStringList withoutVariable = TDJSONRuntime::defaultCandidates();
    EXPECT_FALSE(withoutVariable.contains("/nowhere/libtdjson.so"));
    // An empty value is no candidate (dlopen("") would give the program itself).
    qputenv("TDJSON_PATH", "");
    EXPECT_EQ(TDJSONRuntime::defaultCandidates(), withoutVariable);
    qunsetenv("TDJSON_PATH");

    const auto failed = TDJSONRuntime::create({"/nowhere/a.so", "/nowhere/b.so"});
    EXPECT_EQ(failed.runtime, nullptr);
    const QStringList messages = failed.error.split(" | ");
    ASSERT_EQ(messages.size(), 2);
    EXPECT_TRUE(messages[0].contains("/nowhere/a.so"));
    EXPECT_TRUE(messages[1].contains("/nowhere/b.so"));
}

TEST(TDJSONRuntimeLoading, TheFakeIsLoadedByItsOwnPathOnly) {
    // Even with the real library installed and named by TDJSON_PATH, a fake that cannot be
    // loaded means no runtime at all.
    qputenv("TDJSON_PATH", TW_REAL_TDJSON_PATH);
    const auto result = loadFakeRuntime(QStringLiteral("/nowhere/libtdjson.so"));
    qunsetenv("TDJSON_PATH");
    EXPECT_EQ(result.runtime, nullptr);
    EXPECT_TRUE(result.error.contains("/nowhere/libtdjson.so")) << result.error.toStdString();
    EXPECT_FALSE(result.error.contains(TW_REAL_TDJSON_PATH)) << result.error.toStdString();
}

TEST(TDJSONRuntimeLoading, LibraryWithoutEntryPointsNamesWhatIsMissing) {
    const auto result = TDJSONRuntime::create({"libz.so.1"});
    EXPECT_EQ(result.runtime, nullptr);
    EXPECT_TRUE(result.error.contains("missing symbol td_create_client_id"))
        << result.error.toStdString();
}

TEST_F(TDJSONRuntimeTest, LoadsThroughTdjsonPathAndExecutesSynchronously) {
    EXPECT_EQ(runtime->libraryPath(), fakeTdJsonPath());
    EXPECT_EQ(runtime->version(), QStringLiteral("fake-tdjson"));
    const auto entities = runtime->execute(
        TDObject(QStringLiteral("getTextEntities"), {{"text", "@telegram /test_command"}}));
    ASSERT_TRUE(entities);
    EXPECT_EQ(entities->type(), QStringLiteral("textEntities"));
}

TEST_F(TDJSONRuntimeTest, RequestsAreTaggedPerClientAndRepliesMatched) {
    auto first = newClient();
    auto second = newClient();
    EXPECT_EQ(
        first->send(TDObject(QStringLiteral("getOption"), {{"name", "version"}})).string("value"),
        QStringLiteral("fake-tdjson"));
    first->send(TDObject(QStringLiteral("getOption"), {{"name", "version"}}));
    second->send(TDObject(QStringLiteral("getOption"), {{"name", "version"}}));
    const QJsonArray log = fakeTd().requests();
    // The wake-up request carries no tag; numbering is per client.
    EXPECT_EQ(extras(log, first->id()), (QStringList{"-", "r1", "r2"}));
    EXPECT_EQ(extras(log, second->id()), (QStringList{"-", "r1"}));
    // The wake-up answer has no tag, so it arrives as an update.
    const TDObject wakeUp = nextUpdate(*first, "optionValueString");
    EXPECT_FALSE(wakeUp.contains("@extra"));
    first->shutdown();
    second->shutdown();
}

TEST_F(TDJSONRuntimeTest, ErrorRepliesBecomeTDErrors) {
    auto client = newClient();
    fakeTd().failNext("getMe", 429, "Too Many Requests: retry after 30");
    try {
        client->send(TDObject(QStringLiteral("getMe"), {}));
        ADD_FAILURE() << "no error";
    } catch (const TDError& error) {
        EXPECT_EQ(error, TDError(429, "Too Many Requests: retry after 30"));
        EXPECT_EQ(error.retryAfter(), 30);
    }
    // An error reply without code or message (pushed as the reply to a held request).
    fakeTd().hold("getMe");
    auto waiting = std::async(std::launch::async, [&] {
        try {
            client->send(TDObject(QStringLiteral("getMe"), {}));
        } catch (const TDError& error) {
            return error;
        }
        return TDError(-1, "no error");
    });
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return extras(fakeTd().requests(), client->id()).size() == 3; }));
    fakeTd().push(client->id(), QJsonObject{{"@type", "error"}, {"@extra", "r2"}});
    EXPECT_EQ(waiting.get(), TDError(0, QString()));
    client->shutdown();
}

TEST_F(TDJSONRuntimeTest, UnroutableAndUnmatchedObjectsAreHandledAndTheLoopGoesOn) {
    auto client = newClient();
    fakeTd().pushRaw("this is not json");
    fakeTd().pushRaw("[1,2,3]");
    fakeTd().push(-1, QJsonObject{{"@type", "updateNoClient"}});
    fakeTd().push(99999, QJsonObject{{"@type", "updateUnknownClient"}});
    fakeTd().pushRaw(R"({"@type":"updateTooBig","@client_id":4294967297})");
    fakeTd().push(client->id(), QJsonObject{{"@type", "updateStaleReply"}, {"@extra", "r77"}});
    const TDObject stale = nextUpdate(*client, "updateStaleReply");
    EXPECT_EQ(stale.string("@extra"), QStringLiteral("r77"));
    // The client id may also come as decimal text.
    fakeTd().pushRaw(
        QStringLiteral(R"({"@type":"updateAsText","@client_id":"%1"})").arg(client->id()).toUtf8());
    nextUpdate(*client, "updateAsText");
    client->shutdown();
}

TEST_F(TDJSONRuntimeTest, ShutdownReleasesWaitersEndsUpdatesAndRefusesLaterRequests) {
    auto client = newClient();
    fakeTd().hold("getMe");
    std::vector<std::future<StorageError>> waiters;
    for (int i = 0; i < 3; ++i)
        waiters.push_back(std::async(std::launch::async, [&] {
            try {
                client->send(TDObject(QStringLiteral("getMe"), {}));
            } catch (const StorageError& error) {
                return error;
            }
            return StorageError(Code::server);
        }));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return fakeTd().requestTypes(client->id()).count("getMe") == 3; }));
    client->shutdown();
    for (auto& waiter : waiters)
        EXPECT_EQ(waiter.get(), StorageError(Code::reauthRequired));
    while (client->updates().pop()) {
    }
    EXPECT_TRUE(client->updates().isClosed());
    const int before = fakeTd().requests().size();
    EXPECT_THROW(
        try { client->send(TDObject(QStringLiteral("getMe"), {})); } catch (const StorageError& e) {
            EXPECT_EQ(e.code(), Code::reauthRequired);
            throw;
        },
        StorageError);
    EXPECT_EQ(fakeTd().requests().size(), before) << "nothing sent after shutdown";
    client->shutdown(); // a second call does nothing
    fakeTd().release("getMe");
}

TEST_F(TDJSONRuntimeTest, WaitsHonourCancellationAndDeadlines) {
    auto client = newClient();
    fakeTd().hold("getMe");
    Cancellable<int> cancelled([&] {
        client->send(TDObject(QStringLiteral("getMe"), {}));
        return 0;
    });
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return fakeTd().requestTypes(client->id()).contains("getMe"); }));
    cancelled.stop();
    ASSERT_TRUE(cancelled.finished());
    try {
        cancelled.get();
        ADD_FAILURE();
    } catch (const StorageError& error) {
        EXPECT_EQ(error.code(), Code::cancelled);
    }
    try {
        client->send(TDObject(QStringLiteral("getMe"), {}),
                     std::chrono::steady_clock::now() + std::chrono::milliseconds(50));
        ADD_FAILURE();
    } catch (const StorageError& error) {
        EXPECT_EQ(error.code(), Code::network);
    }
    // The late replies of abandoned requests arrive as updates, not as someone's answer.
    fakeTd().failNext("getMe", 401, "Unauthorized");
    fakeTd().release("getMe");
    const TDObject late = nextUpdate(*client, "error");
    EXPECT_EQ(late.string("@extra"), QStringLiteral("r1"));
    client->shutdown();
}

TEST(TDJSONRuntimeStop, StopsItsNamedReceiveThreadWithinTheBound) {
    // A private copy of the fake: its own library instance, so stopping this runtime leaves
    // the suite's runtime alone.
    QTemporaryDir dir;
    const QString copy = dir.path() + "/libtdjson.so";
    ASSERT_TRUE(QFile::copy(fakeTdJsonPath(), copy));
    auto result = TDJSONRuntime::create({copy}, 0.05);
    ASSERT_TRUE(result.runtime) << result.error.toStdString();
    EXPECT_TRUE(result.error.isEmpty());

    auto threadNames = [] {
        QStringList names;
        for (const QString& task :
             QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile comm("/proc/self/task/" + task + "/comm");
            if (comm.open(QIODevice::ReadOnly))
                names.append(QString::fromUtf8(comm.readAll()).trimmed());
        }
        return names;
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return threadNames().contains("Tessarow.TDLib"); }));
    EXPECT_TRUE(result.runtime->stopReceiving(1.0));
    EXPECT_TRUE(result.runtime->stopReceiving(1.0));
}

namespace {

/// A runtime over a private copy of the fake (its own library instance, so stopping it leaves
/// the suite's runtime alone) and the copy's controls.
struct PrivateRuntime {
    PrivateRuntime() {
        const QString copy = dir.path() + "/libtdjson.so";
        if (!QFile::copy(fakeTdJsonPath(), copy))
            return;
        runtime = TDJSONRuntime::create({copy}, 0.05).runtime;
        fake = std::make_unique<FakeTdJson>(copy);
        fake->reset();
    }
    QTemporaryDir dir;
    std::shared_ptr<TDJSONRuntime> runtime;
    std::unique_ptr<FakeTdJson> fake;
};

} // namespace

TEST(TDJSONRuntimeStop, KeepsPollingUntilAClosingInstanceHasClosed) {
    PrivateRuntime r;
    ASSERT_TRUE(r.runtime);
    auto client = r.runtime->makeClient();
    ASSERT_TRUE(QTest::qWaitFor([&] { return r.fake->liveClients() == 1; }));
    // A close that its session stopped waiting for: the client is shut down, TDLib is still
    // closing the instance.
    r.fake->hold("close");
    client->post(TDObject(QStringLiteral("close"), {}));
    client->shutdown();
    EXPECT_EQ(r.runtime->liveClientCount(), 0);
    EXPECT_EQ(r.runtime->openInstanceCount(), 1);
    auto stopped = std::async(std::launch::async, [&] { return r.runtime->stopReceiving(10.0); });
    // The stop asks the instance to close once more, and waits for it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return r.fake->requestTypes().count("close") == 2; }));
    r.fake->release("close");
    EXPECT_TRUE(stopped.get());
    EXPECT_EQ(r.fake->liveClients(), 0) << "the receive thread ended before TDLib had closed";
    EXPECT_EQ(r.runtime->openInstanceCount(), 0);
}

TEST(TDJSONRuntimeStop, ClosesInstancesThatNobodyClosed) {
    PrivateRuntime r;
    ASSERT_TRUE(r.runtime);
    auto first = r.runtime->makeClient();
    auto second = r.runtime->makeClient();
    ASSERT_TRUE(QTest::qWaitFor([&] { return r.fake->liveClients() == 2; }));
    EXPECT_TRUE(r.runtime->stopReceiving(10.0));
    EXPECT_EQ(r.fake->liveClients(), 0);
    EXPECT_EQ(r.runtime->openInstanceCount(), 0);
    first->shutdown();
    second->shutdown();
}

TEST(TDJSONRuntimeStop, AnInstanceThatNeverClosesDelaysTheStopOnlyUntilItsBound) {
    PrivateRuntime r;
    ASSERT_TRUE(r.runtime);
    r.fake->configure(QJsonObject{{"close", "hang"}});
    auto client = r.runtime->makeClient();
    ASSERT_TRUE(QTest::qWaitFor([&] { return r.fake->liveClients() == 1; }));
    // The stop asks the instance to close and waits for it until its bound. Its answer is not
    // checked: a waiter that wakes late on a busy machine finds the thread already ended at
    // that same bound.
    r.runtime->stopReceiving(0.2);
    EXPECT_TRUE(r.fake->requestTypes().contains(QStringLiteral("close")));
    // Past its bound the thread ends all the same, the instance still open.
    EXPECT_TRUE(QTest::qWaitFor([&] { return r.runtime->stopReceiving(0.0); }));
    EXPECT_EQ(r.runtime->openInstanceCount(), 1);
    EXPECT_EQ(r.fake->liveClients(), 1);
    client->shutdown();
}
