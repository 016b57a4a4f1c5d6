#include "tests/TelegramProvider/TelegramTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimeZone>

#include <gtest/gtest.h>

using namespace tw;
using namespace tw::test;
using Code = StorageError::Code;

namespace {

class TelegramSessionTest : public FakeTDLibTest {
protected:
    int clientID(const std::shared_ptr<TelegramSession>& session) {
        return std::static_pointer_cast<TDJSONClient>(session->client())->id();
    }
    QStringList requests(const std::shared_ptr<TelegramSession>& session) {
        return fakeTd().requestTypes(clientID(session));
    }
    /// Sends a marker update and waits until the session has handled everything before it.
    void flush(const std::shared_ptr<TelegramSession>& session) {
        // Objects arrive in order: once the reply is in, the marker is in the update stream.
        fakeTd().push(clientID(session), QJsonObject{{"@type", "updateMarker"}});
        session->client()->send(TDObject(QStringLiteral("getOption"), {{"name", "version"}}));
        session->settle();
    }
};

QJsonObject lastRequest(int clientID, const QString& type) {
    QJsonObject found;
    for (const auto& value : fakeTd().requests()) {
        const QJsonObject object = value.toObject();
        if (object.value("@client_id").toInt() == clientID &&
            object.value("@type").toString() == type)
            found = object;
    }
    return found;
}

} // namespace

TEST_F(TelegramSessionTest, OpenAnswersParametersAndReachesThePhoneStep) {
    auto session = newSession("A", QByteArray(32, '\x01'));
    EXPECT_EQ(session->open().type(), QStringLiteral("authorizationStateWaitPhoneNumber"));
    const QString dir = base + "/A";
    EXPECT_TRUE(QFileInfo(dir).isDir());
    EXPECT_EQ(QFileInfo(dir).permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);
    QJsonObject parameters = lastRequest(clientID(session), "setTdlibParameters");
    parameters.remove("@extra");
    parameters.remove("@client_id");
    const QJsonObject expected{
        {"@type", "setTdlibParameters"},
        {"use_test_dc", false},
        {"database_directory", dir + "/db"},
        {"files_directory", dir + "/files"},
        {"database_encryption_key", QString::fromLatin1(QByteArray(32, '\x01').toBase64())},
        {"use_file_database", true},
        {"use_chat_info_database", true},
        {"use_message_database", true},
        {"use_secret_chats", false},
        {"api_id", 12345},
        {"api_hash", "0123456789abcdef"},
        {"system_language_code", "en"},
        {"device_model", "Linux"},
        {"system_version", "Test OS"},
        {"application_version", "1.0"},
    };
    EXPECT_EQ(parameters, expected);
    session->terminate(false);
}

TEST_F(TelegramSessionTest, DeviceInfoNamesThisSystem) {
    const TelegramDeviceInfo info = TelegramDeviceInfo::current();
    EXPECT_EQ(info.deviceModel, QStringLiteral("Linux"));
    EXPECT_FALSE(info.systemVersion.isEmpty());
    QFile osRelease("/etc/os-release");
    if (osRelease.open(QIODevice::ReadOnly) &&
        osRelease.readAll().contains("PRETTY_NAME=\"Debian")) {
        EXPECT_TRUE(info.systemVersion.startsWith("Debian")) << info.systemVersion.toStdString();
    }
    EXPECT_FALSE(info.systemLanguageCode.isEmpty());
}

TEST_F(TelegramSessionTest, OpenSendsNoParametersWhenTDLibNeedsNone) {
    fakeTd().configure({{"start_state", state("authorizationStateReady")}});
    auto session = newSession();
    EXPECT_EQ(session->open().type(), QStringLiteral("authorizationStateReady"));
    EXPECT_FALSE(requests(session).contains("setTdlibParameters"));
    session->terminate(false);
}

TEST_F(TelegramSessionTest, RejectedParametersAreThrownAsTDError) {
    auto first = newSession("A", QByteArray(32, 'a'));
    first->open();
    first->terminate(false);
    auto second = newSession("A", QByteArray(32, 'b'));
    try {
        second->open();
        ADD_FAILURE() << "opened with the wrong key";
    } catch (const TDError& error) {
        EXPECT_EQ(error.code(), 401);
        EXPECT_EQ(error.storageError(), StorageError(Code::reauthRequired));
    }
    second->terminate(false);
}

TEST_F(TelegramSessionTest, StateWaitsSkipTheExcludedTypeOnly) {
    auto session = newSession();
    session->open(); // waiting for the phone number
    const int id = clientID(session);
    EXPECT_EQ(session->authorizationState(std::nullopt)->type(),
              QStringLiteral("authorizationStateWaitPhoneNumber"));

    Cancellable<QString> differs([&] {
        return session->authorizationState(QStringLiteral("authorizationStateWaitPhoneNumber"))
            ->type();
    });
    // A repeat of the current type does not release the waiter; the next new type does.
    fakeTd().setState(id, state("authorizationStateWaitPhoneNumber"));
    flush(session);
    EXPECT_FALSE(differs.finished(std::chrono::milliseconds(0)));
    fakeTd().setState(id, state("authorizationStateWaitCode"));
    ASSERT_TRUE(differs.finished());
    EXPECT_EQ(differs.get(), QStringLiteral("authorizationStateWaitCode"));

    // Two waiters excluding the current type: one update releases both, in order.
    Cancellable<QString> first([&] {
        return session->authorizationState(QStringLiteral("authorizationStateWaitCode"))->type();
    });
    Cancellable<QString> second([&] {
        return session->authorizationState(QStringLiteral("authorizationStateWaitCode"))->type();
    });
    fakeTd().setState(id, state("authorizationStateWaitCode"));
    flush(session);
    EXPECT_FALSE(first.finished(std::chrono::milliseconds(0)));
    EXPECT_FALSE(second.finished(std::chrono::milliseconds(0)));
    fakeTd().setState(id, state("authorizationStateWaitPassword"));
    ASSERT_TRUE(first.finished());
    ASSERT_TRUE(second.finished());
    EXPECT_EQ(first.get(), QStringLiteral("authorizationStateWaitPassword"));
    EXPECT_EQ(second.get(), QStringLiteral("authorizationStateWaitPassword"));

    // A bounded wait gives nothing when no new state comes.
    EXPECT_EQ(session->authorizationState(QStringLiteral("authorizationStateWaitPassword"),
                                          std::chrono::steady_clock::now() +
                                              std::chrono::milliseconds(20)),
              std::nullopt);
    session->terminate(false);
}

TEST_F(TelegramSessionTest, SendOutcomesMeetTheirWaitersInEitherOrder) {
    auto session = newSession();
    session->open();
    const int id = clientID(session);
    const QJsonObject message{{"@type", "message"}, {"id", 900}, {"chat_id", 42}};
    // Outcome before the wait: parked, then taken once.
    fakeTd().push(
        id, {{"@type", "updateMessageSendSucceeded"}, {"old_message_id", 5}, {"message", message}});
    flush(session);
    EXPECT_EQ(session->waitForSend(42, 5).integer("id"), 900);

    // Wait before the outcome; a failure without an error object is 400 SEND_FAILED.
    Cancellable<int> failing([&] {
        try {
            session->waitForSend(42, 6);
        } catch (const TDError& error) {
            EXPECT_EQ(error, TDError(400, "SEND_FAILED"));
            return 1;
        }
        return 0;
    });
    Cancellable<int> withError([&] {
        try {
            session->waitForSend(42, 7);
        } catch (const TDError& error) {
            EXPECT_EQ(error, TDError(400, "FILE_PARTS_INVALID"));
            return 1;
        }
        return 0;
    });
    flush(session);
    fakeTd().push(id, {{"@type", "updateMessageSendFailed"},
                       {"old_message_id", "6"},
                       {"message", message}});
    fakeTd().push(id, {{"@type", "updateMessageSendFailed"},
                       {"old_message_id", 7},
                       {"message", message},
                       {"error", QJsonObject{{"code", 400}, {"message", "FILE_PARTS_INVALID"}}}});
    ASSERT_TRUE(failing.finished());
    EXPECT_EQ(failing.get(), 1);
    ASSERT_TRUE(withError.finished());
    EXPECT_EQ(withError.get(), 1);

    // The parked outcome of id 5 is gone: a second wait parks (and is released by the end).
    Cancellable<int> again([&] {
        try {
            session->waitForSend(42, 5);
        } catch (const StorageError& error) {
            return int(error.code());
        }
        return -1;
    });
    EXPECT_FALSE(again.finished(std::chrono::milliseconds(20)));
    session->terminate(false);
    ASSERT_TRUE(again.finished());
    EXPECT_EQ(again.get(), int(Code::cancelled));
}

TEST_F(TelegramSessionTest, FileUpdatesReachOnlyTheirObservers) {
    auto session = newSession();
    session->open();
    const int id = clientID(session);
    std::mutex mutex;
    QList<qint64> seen;
    const quint64 token = session->addFileObserver(11, [&](const TDObject& file) {
        std::lock_guard lock(mutex);
        seen.append(file.object("local")->integer("downloaded_size").value_or(-1));
    });
    session->addFileObserver(12, [&](const TDObject&) { ADD_FAILURE() << "wrong observer"; });
    auto fileUpdate = [&](qint64 fileID, qint64 size) {
        fakeTd().push(
            id, {{"@type", "updateFile"},
                 {"file",
                  QJsonObject{{"id", fileID}, {"local", QJsonObject{{"downloaded_size", size}}}}}});
    };
    fileUpdate(11, 100);
    fileUpdate(13, 5);
    fileUpdate(11, 200);
    flush(session);
    session->removeFileObserver(token);
    fileUpdate(11, 300);
    flush(session);
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(seen, (QList<qint64>{100, 200}));
    }
    session->terminate(false);
}

TEST_F(TelegramSessionTest, IdentityRecordsTheUserAndSavedMessages) {
    fakeTd().configure({{"start_state", state("authorizationStateReady")}});
    auto session = newSession();
    session->open();
    const TDObject me = session->loadIdentity();
    EXPECT_EQ(me.integer("id"), 42);
    EXPECT_EQ(session->me(), me);
    EXPECT_EQ(session->savedChatID(), 42);
    const QJsonObject chat = lastRequest(clientID(session), "createPrivateChat");
    EXPECT_EQ(chat.value("user_id").toInteger(), 42);
    EXPECT_EQ(chat.value("force"), QJsonValue(false));
    session->terminate(false);

    fakeTd().configure({{"me", QJsonObject{{"@type", "user"}, {"first_name", "NoId"}}}});
    auto anonymous = newSession("B");
    anonymous->open();
    try {
        anonymous->loadIdentity();
        ADD_FAILURE();
    } catch (const StorageError& error) {
        EXPECT_EQ(error.code(), Code::invalidResponse);
    }
    EXPECT_TRUE(anonymous->me());
    EXPECT_FALSE(anonymous->savedChatID());
    anonymous->terminate(false);
}

TEST_F(TelegramSessionTest, TerminateClosesOrLogsOut) {
    fakeTd().configure({{"start_state", state("authorizationStateReady")}});
    auto closing = newSession("A");
    closing->open();
    closing->terminate(false);
    EXPECT_TRUE(requests(closing).contains("close"));
    EXPECT_FALSE(requests(closing).contains("logOut"));
    EXPECT_TRUE(closing->hasEnded());

    auto leaving = newSession("B");
    leaving->open();
    leaving->terminate(true);
    EXPECT_TRUE(requests(leaving).contains("logOut"));
    EXPECT_FALSE(requests(leaving).contains("close"));
    EXPECT_EQ(fakeTd().liveClients(), 0);
    // A second terminate returns at once.
    leaving->terminate(true);
}

TEST_F(TelegramSessionTest, TerminateFallsBackToCloseWhenLogOutIsRejectedOrHangs) {
    // Rejected: TDLib refuses to log out before it has its parameters.
    auto rejected = newSession("A");
    rejected->startListening();
    ASSERT_EQ(rejected
                  ->authorizationState(std::nullopt,
                                       std::chrono::steady_clock::now() + std::chrono::seconds(5))
                  ->type(),
              QStringLiteral("authorizationStateWaitTdlibParameters"));
    rejected->terminate(true);
    EXPECT_EQ(requests(rejected).mid(requests(rejected).indexOf("logOut")),
              (QStringList{"logOut", "close"}));

    // Hanging: offline, a log-out never finishes; the bounded wait ends with a close.
    fakeTd().configure({{"start_state", state("authorizationStateReady")}, {"logout", "hang"}});
    auto hanging = newSession("B");
    hanging->open();
    hanging->terminate(true);
    EXPECT_EQ(requests(hanging).mid(requests(hanging).indexOf("logOut")),
              (QStringList{"logOut", "close"}));
    EXPECT_EQ(fakeTd().liveClients(), 0);
}

TEST_F(TelegramSessionTest, TerminateGivesUpAfterFiveStateChangesWithoutClosed) {
    fakeTd().configure({{"start_state", state("authorizationStateReady")}, {"close", "endless"}});
    auto session = newSession();
    session->open();
    session->terminate(false);
    EXPECT_TRUE(session->hasEnded());
    EXPECT_TRUE(session->client()->updates().isClosed());
}

TEST_F(TelegramSessionTest, EndingReleasesEveryParkedCaller) {
    fakeTd().configure({{"close", "hang"}}); // no state comes: only the end releases them
    auto session = newSession();
    session->open();
    Cancellable<QString> authorization([&] {
        return session->authorizationState(QStringLiteral("authorizationStateWaitPhoneNumber"))
            ->type();
    });
    Cancellable<int> send([&] {
        try {
            session->waitForSend(42, 1);
        } catch (const StorageError& error) {
            return int(error.code());
        }
        return -1;
    });
    flush(session);
    session->terminate(false);
    ASSERT_TRUE(authorization.finished());
    EXPECT_EQ(authorization.get(), QStringLiteral("authorizationStateClosed"));
    ASSERT_TRUE(send.finished());
    EXPECT_EQ(send.get(), int(Code::cancelled));
    // Later waits end at once too.
    EXPECT_EQ(session->authorizationState(QStringLiteral("authorizationStateClosed"))->type(),
              QStringLiteral("authorizationStateClosed"));
    EXPECT_THROW(session->waitForSend(42, 2), StorageError);
}

TEST_F(TelegramSessionTest, TerminateHonoursCancellationAndStillLetsGoOfTDLib) {
    fakeTd().configure({{"start_state", state("authorizationStateReady")}, {"close", "hang"}});
    auto session = newSession();
    session->open();
    fakeTd().hold("close");
    Cancellable<int> terminating([&] {
        session->terminate(false);
        return 0;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return requests(session).contains("close"); }));
    terminating.stop();
    ASSERT_TRUE(terminating.finished());
    EXPECT_TRUE(session->hasEnded());
    // A second "close" was posted for TDLib to act on after we stopped listening.
    EXPECT_EQ(requests(session).count("close"), 2);
    fakeTd().configure({{"close", "normal"}});
    fakeTd().release("close");
    EXPECT_EQ(fakeTd().liveClients(), 0);
}

TEST_F(TelegramSessionTest, CachesAreKeptPerSession) {
    auto session = newSession();
    session->setFolders({{-100, "Docs"}}, QDateTime::fromSecsSinceEpoch(5));
    session->setChats({TelegramChat{-100, "Docs", TelegramChat::Kind::ownedChannel}});
    session->setFileHandles("m:1:2", TelegramFileHandles{1, 2, 3, std::nullopt, 4});
    EXPECT_EQ(session->folders().value(-100), QStringLiteral("Docs"));
    EXPECT_EQ(session->foldersLoadedAt(), QDateTime::fromSecsSinceEpoch(5));
    EXPECT_EQ(session->chats().size(), 1);
    EXPECT_EQ(session->fileHandles("m:1:2")->fileID, 3);
    EXPECT_EQ(session->fileHandles("m:1:3"), std::nullopt);
    session->terminate(false);
}

TEST_F(TelegramSessionTest, ASendWhoseMessageIsDeletedEndsWithAnError) {
    auto session = newSession();
    session->open();
    const int id = clientID(session);
    auto deletion = [&](QJsonArray ids, bool fromCache = false) {
        fakeTd().push(id, {{"@type", "updateDeleteMessages"},
                           {"chat_id", 42},
                           {"message_ids", ids},
                           {"is_permanent", !fromCache},
                           {"from_cache", fromCache}});
    };
    auto waitFor = [&](qint64 message) {
        return std::make_unique<Cancellable<QString>>([&, message] {
            try {
                session->waitForSend(42, message);
            } catch (const TDError& error) {
                return error.message();
            } catch (const StorageError& error) {
                return QStringLiteral("StorageError %1").arg(int(error.code()));
            }
            return QStringLiteral("sent");
        });
    };

    // Deleted while its sender waits.
    auto waiting = waitFor(5);
    flush(session);
    deletion({4, 5});
    ASSERT_TRUE(waiting->finished());
    EXPECT_EQ(waiting->get(), "MESSAGE_DELETED");

    // Deleted before its sender started to wait.
    deletion({6});
    flush(session);
    auto late = waitFor(6);
    ASSERT_TRUE(late->finished());
    EXPECT_EQ(late->get(), "MESSAGE_DELETED");

    // Dropped from TDLib's cache only: the message still exists, the wait goes on.
    auto cached = waitFor(7);
    flush(session);
    deletion({7}, true);
    flush(session);
    EXPECT_FALSE(cached->finished(std::chrono::milliseconds(20)));
    session->terminate(false);
    ASSERT_TRUE(cached->finished());
    EXPECT_EQ(cached->get(), QStringLiteral("StorageError %1").arg(int(Code::cancelled)));
}

TEST_F(TelegramSessionTest, SendsInTwoChatsWithOneMessageIdStayApart) {
    auto session = newSession();
    session->open();
    const int id = clientID(session);
    auto waitFor = [&](qint64 chat) {
        return std::make_unique<Cancellable<QString>>([&, chat] {
            try {
                return QString::number(*session->waitForSend(chat, 5).integer("id"));
            } catch (const TDError& error) {
                return error.message();
            } catch (const StorageError& error) {
                return QStringLiteral("StorageError %1").arg(int(error.code()));
            }
        });
    };
    auto succeeded = [&](qint64 chat, qint64 newID) {
        fakeTd().push(id, {{"@type", "updateMessageSendSucceeded"},
                           {"old_message_id", 5},
                           {"message", QJsonObject{{"@type", "message"},
                                                   {"id", newID},
                                                   {"chat_id", chat}}}});
    };

    // Outcomes reach the waiter of their own chat, whatever the order.
    auto inA = waitFor(1);
    auto inB = waitFor(2);
    flush(session);
    succeeded(2, 200);
    ASSERT_TRUE(inB->finished());
    EXPECT_EQ(inB->get(), "200");
    EXPECT_FALSE(inA->finished(std::chrono::milliseconds(20)));
    succeeded(1, 100);
    ASSERT_TRUE(inA->finished());
    EXPECT_EQ(inA->get(), "100");

    // Outcomes that arrive first are parked per chat.
    succeeded(1, 101);
    succeeded(2, 201);
    flush(session);
    EXPECT_EQ(session->waitForSend(2, 5).integer("id"), 201);
    EXPECT_EQ(session->waitForSend(1, 5).integer("id"), 101);

    // A deletion in one chat fails only the send in that chat, before or after the wait.
    auto sendingA = waitFor(1);
    auto sendingB = waitFor(2);
    flush(session);
    fakeTd().push(id, {{"@type", "updateDeleteMessages"},
                       {"chat_id", 1},
                       {"message_ids", QJsonArray{5}},
                       {"is_permanent", true},
                       {"from_cache", false}});
    ASSERT_TRUE(sendingA->finished());
    EXPECT_EQ(sendingA->get(), "MESSAGE_DELETED");
    EXPECT_FALSE(sendingB->finished(std::chrono::milliseconds(20)));
    succeeded(2, 202);
    ASSERT_TRUE(sendingB->finished());
    EXPECT_EQ(sendingB->get(), "202");
    session->terminate(false);
}

TEST_F(TelegramSessionTest, TheCacheOfFileHandlesIsBounded) {
    auto session = newSession();
    const int limit = TelegramSession::maxCachedHandles;
    for (int i = 0; i <= limit; ++i)
        session->setFileHandles(QStringLiteral("m:1:%1").arg(i),
                                TelegramFileHandles{1, i, i, std::nullopt, 1});
    // Updating a known item keeps it and makes no room.
    session->setFileHandles(QStringLiteral("m:1:%1").arg(limit),
                            TelegramFileHandles{1, limit, 7, std::nullopt, 1});
    EXPECT_EQ(session->fileHandles(QStringLiteral("m:1:0")), std::nullopt); // the oldest went
    EXPECT_TRUE(session->fileHandles(QStringLiteral("m:1:1")).has_value());
    EXPECT_EQ(session->fileHandles(QStringLiteral("m:1:%1").arg(limit))->fileID, 7);
    session->terminate(false);
}

TEST_F(TelegramSessionTest, DirectoryCacheWriters) {
    auto session = newSession();
    const QDateTime scanned = QDateTime::fromSecsSinceEpoch(1000, QTimeZone::utc());
    using Kind = TelegramChat::Kind;
    session->setDirectory({{-1, "Work", Kind::ownedChannel},
                           {7, "Bob", Kind::privateChat},
                           {-2, "Home", Kind::ownedChannel}},
                          scanned);
    EXPECT_EQ(session->folders(), (QHash<qint64, QString>{{-1, "Work"}, {-2, "Home"}}));
    EXPECT_EQ(session->foldersLoadedAt(), scanned);
    // A retitled folder moves to the end; the time of the scan stays.
    session->setFolder(-1, "Projects");
    EXPECT_EQ(session->chats(), (QList<TelegramChat>{{7, "Bob", Kind::privateChat},
                                                     {-2, "Home", Kind::ownedChannel},
                                                     {-1, "Projects", Kind::ownedChannel}}));
    EXPECT_EQ(session->folders().value(-1), "Projects");
    EXPECT_EQ(session->foldersLoadedAt(), scanned);
    session->terminate(false);
}

TEST_F(TelegramSessionTest, TheLastUseOfAFileClaimsItsDeletion) {
    auto session = newSession();
    session->beginFileUse(9);
    session->beginFileUse(9);
    EXPECT_FALSE(session->endFileUse(9, true)); // another use is still in flight
    EXPECT_TRUE(session->endFileUse(9, true));
    // A new use waits until the deletion is over.
    Cancellable<int> next([&] {
        session->beginFileUse(9);
        return 1;
    });
    EXPECT_FALSE(next.finished(std::chrono::milliseconds(20)));
    session->finishFileDeletion(9);
    ASSERT_TRUE(next.finished());
    EXPECT_FALSE(session->endFileUse(9)); // no claim asked
    EXPECT_TRUE(session->filesDirectory().endsWith("/S/files"));
    session->terminate(false);
}
