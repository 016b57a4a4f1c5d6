// Resumable uploads end to end: the real client sends chunks streamed from the file to the
// fake server's upload protocol, with faults injected into chunks and status queries.
#include "tests/GoogleDriveProvider/Drive/DriveFixture.h"

#include <QCryptographicHash>

using namespace tw;
using namespace tw::test;
using Code = StorageError::Code;
using Endpoint = FakeDriveServer::Endpoint;
using Fault = FakeDriveServer::Fault;

namespace {

class ResumableUploads : public DriveFixture {
protected:
    /// 1 MiB + 5 bytes: four full chunks of 256 KiB and a short one.
    const QByteArray content = FakeDriveServer::syntheticBytes(12345, 4 * kChunk + 5);

    LocalFile localFile(const QByteArray& bytes, const QString& name = QStringLiteral("data.bin")) {
        const QString path = writeLocal(name, bytes);
        return LocalFile{QUrl::fromLocalFile(path), name, bytes.size(),
                         QStringLiteral("application/octet-stream")};
    }

    FileItem upload(const LocalFile& file, const std::optional<QString>& parent = std::nullopt) {
        progress.clear();
        return provider->upload(account, file, parent, [this](qint64 bytes) {
            std::lock_guard lock(progressMutex);
            progress.push_back(bytes);
        });
    }

    Code uploadError(const LocalFile& file) {
        try {
            upload(file);
        } catch (const StorageError& error) {
            return error.code();
        }
        ADD_FAILURE() << "the upload succeeded";
        return Code::cancelled;
    }

    QByteArray stored(const FileItem& item) const {
        const auto file = server.file(item.ref.providerID);
        return file ? file->content : QByteArray("<missing>");
    }

    QStringList chunkRanges() const {
        QStringList ranges;
        for (const auto& request : server.requests(Endpoint::uploadChunk))
            ranges.append(QString::fromLatin1(request.headers.value("content-range", "<none>")));
        return ranges;
    }

    std::mutex progressMutex;
    std::vector<qint64> progress;
};

} // namespace

TEST_F(ResumableUploads, SendsTheFileInChunksAndReturnsTheItem) {
    const QString folder = server.addFolder(QStringLiteral("Inbox"));
    const FileItem item = upload(localFile(content, QStringLiteral("report.bin")), folder);
    EXPECT_EQ(item.name, "report.bin");
    EXPECT_EQ(item.parentIDs, QList<QString>{folder});
    EXPECT_EQ(item.sizeBytes, content.size());
    EXPECT_EQ(item.ref.accountID, account);
    EXPECT_EQ(stored(item), content);
    EXPECT_TRUE(server.violations().isEmpty()) << server.violations().join("\n").toStdString();
    EXPECT_EQ(chunkRanges(),
              (QStringList{"bytes 0-262143/1048581", "bytes 262144-524287/1048581",
                           "bytes 524288-786431/1048581", "bytes 786432-1048575/1048581",
                           "bytes 1048576-1048580/1048581"}));
    const auto start = server.requests(Endpoint::uploadStart);
    ASSERT_EQ(start.size(), 1);
    EXPECT_EQ(start[0].headers.value("x-upload-content-length"), "1048581");

    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), 0);
    EXPECT_EQ(progress.back(), content.size());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(server.count(Endpoint::uploadStatus), 0);
}

TEST_F(ResumableUploads, OneChunkAndEmptyFiles) {
    const QByteArray exact = content.left(kChunk);
    EXPECT_EQ(stored(upload(localFile(exact))), exact);
    EXPECT_EQ(chunkRanges(), QStringList{"bytes 0-262143/262144"});
    EXPECT_EQ(progress.back(), kChunk);

    server.clearRequests();
    const FileItem empty = upload(localFile(QByteArray(), QStringLiteral("empty.txt")));
    EXPECT_EQ(empty.sizeBytes, 0);
    const auto puts = server.requests(Endpoint::uploadChunk);
    ASSERT_EQ(puts.size(), 1);
    EXPECT_EQ(puts[0].headers.value("content-length"), "0");
    EXPECT_FALSE(puts[0].headers.contains("content-range"));
    EXPECT_TRUE(server.violations().isEmpty()) << server.violations().join("\n").toStdString();
}

TEST_F(ResumableUploads, RecoversFromFailuresByAskingTheSession) {
    Fault partial;
    partial.keepBytes = 100000;
    Fault dropped = Fault::dropped();
    Fault noRange;
    noRange.omitRange = true;
    Fault expired;
    expired.expireSession = true;

    const struct {
        const char* name;
        Fault fault;
        int times;
        int statusQueries;
        int starts;
    } cases[] = {
        {"503", Fault::http(503), 1, 1, 1},
        {"500 with Retry-After", Fault::http(500, 3600), 1, 1, 1},
        {"429", Fault::http(429), 1, 1, 1},
        {"403 rate limit", Fault::http(403, std::nullopt, {"userRateLimitExceeded"}), 1, 1, 1},
        {"three 503 in a row", Fault::http(503), 3, 3, 1},
        {"connection dropped mid-chunk", dropped, 1, 1, 1},
        {"308 that keeps part of a chunk", partial, 1, 0, 1},
        {"308 without Range", noRange, 1, 0, 1},
        {"expired session", expired, 1, 0, 2},
    };
    for (const auto& c : cases) {
        server.clearRequests();
        server.clearFaults();
        server.injectFault(Endpoint::uploadChunk, c.fault, c.times);
        FileItem item;
        ASSERT_NO_THROW(item = upload(localFile(content))) << c.name;
        EXPECT_EQ(stored(item), content) << c.name;
        EXPECT_EQ(server.count(Endpoint::uploadStatus), c.statusQueries) << c.name;
        EXPECT_EQ(server.count(Endpoint::uploadStart), c.starts) << c.name;
        EXPECT_EQ(progress.front(), 0) << c.name;
        EXPECT_EQ(progress.back(), content.size()) << c.name;
        EXPECT_TRUE(server.violations().isEmpty())
            << c.name << server.violations().join("\n").toStdString();
        for (const auto& query : server.requests(Endpoint::uploadStatus))
            EXPECT_EQ(query.headers.value("content-range"), "bytes */1048581") << c.name;
    }
}

TEST_F(ResumableUploads, APartial308ResendsFromTheServersOffset) {
    Fault partial;
    partial.keepBytes = 100000;
    server.injectFault(Endpoint::uploadChunk, partial);
    upload(localFile(content));
    const QStringList ranges = chunkRanges();
    ASSERT_GE(ranges.size(), 2);
    EXPECT_EQ(ranges[0], "bytes 0-262143/1048581");
    EXPECT_EQ(ranges[1], "bytes 100000-362143/1048581");
    // Progress follows the server's account, so it may go down.
    EXPECT_NE(std::find(progress.begin(), progress.end(), 100000), progress.end());
}

TEST_F(ResumableUploads, GivesUpAfterTheRetryLimitAndRestartsOnlyOnce) {
    server.injectFault(Endpoint::uploadChunk, Fault::http(503), 4);
    EXPECT_EQ(uploadError(localFile(content)), Code::server);
    EXPECT_EQ(server.count(Endpoint::uploadChunk), 4);
    EXPECT_EQ(server.count(Endpoint::uploadStatus), 3);

    // A 308 between failures resets the count: 3 failures, progress, 3 failures, success.
    server.clearRequests();
    server.clearFaults();
    Fault slow = Fault::http(503);
    server.injectFault(Endpoint::uploadChunk, slow, 3);
    // Three 503s, the first chunk goes through (308), then three more 503s for the next one.
    bool injected = false;
    provider->upload(account, localFile(content), std::nullopt, [&](qint64 bytes) {
        // Once the server has answered the fourth send (its record exists), not while the
        // body is still on its way.
        if (bytes == kChunk && !injected && server.count(Endpoint::uploadChunk) == 4) {
            injected = true;
            server.injectFault(Endpoint::uploadChunk, slow, 3);
        }
    });

    EXPECT_TRUE(injected);
    EXPECT_EQ(server.count(Endpoint::uploadStatus), 6);

    server.clearRequests();
    server.clearFaults();
    Fault expired;
    expired.expireSession = true;
    server.injectFault(Endpoint::uploadChunk, expired, 2);
    EXPECT_EQ(uploadError(localFile(content)), Code::notFound);
    EXPECT_EQ(server.count(Endpoint::uploadStart), 2);

    server.clearRequests();
    server.clearFaults();
    server.injectFault(Endpoint::uploadChunk, Fault::http(403));
    EXPECT_EQ(uploadError(localFile(content)), Code::permissionDenied);
    EXPECT_EQ(server.count(Endpoint::uploadStatus), 0);
}

TEST_F(ResumableUploads, AStatusQueryThatFindsTheFileCompleteEndsTheUpload) {
    // The last chunk arrives whole but its answer is lost: the session already made the file.
    Fault lostAnswer = Fault::dropped();
    lostAnswer.keepBytes = kChunk;
    const QByteArray small = content.left(kChunk);
    server.injectFault(Endpoint::uploadChunk, lostAnswer);
    const FileItem item = upload(localFile(small));
    EXPECT_EQ(stored(item), small);
    EXPECT_EQ(server.count(Endpoint::uploadStatus), 1);
    EXPECT_EQ(server.count(Endpoint::uploadChunk), 1);
}

TEST_F(ResumableUploads, ASessionThatNeverAdvancesEndsInsteadOfLooping) {
    Fault noRange;
    noRange.omitRange = true;
    server.injectFault(Endpoint::uploadChunk, noRange, 1000);
    EXPECT_EQ(uploadError(localFile(content)), Code::invalidResponse);
    EXPECT_EQ(server.count(Endpoint::uploadChunk), 4);

    // A session that went backwards after some progress, and stays there.
    server.clearRequests();
    server.clearFaults();
    Fault back;
    back.claimHeld = 0;
    back.keepBytes = 0;
    back.omitRange = true;
    server.injectFault(Endpoint::uploadChunk, Fault{}, 1);
    server.injectFault(Endpoint::uploadChunk, back, 1000);
    EXPECT_EQ(uploadError(localFile(content)), Code::invalidResponse);
    EXPECT_EQ(server.count(Endpoint::uploadChunk), 5);
}

TEST_F(ResumableUploads, AServerClaimingTheWholeFileIsAskedOnceThenAnInvalidResponse) {
    // A 308 that claims the whole (or more than the whole) file: one status query decides.
    for (qint64 claimed : {content.size(), content.size() + 10}) {
        SCOPED_TRACE(claimed);
        Fault greedy;
        greedy.keepBytes = 10;
        greedy.claimHeld = claimed;

        // The status shows the true offset: the upload goes on from there and completes.
        server.clearRequests();
        server.clearFaults();
        server.injectFault(Endpoint::uploadChunk, greedy);
        EXPECT_EQ(stored(upload(localFile(content))), content);
        EXPECT_EQ(server.count(Endpoint::uploadStatus), 1);
        EXPECT_EQ(chunkRanges().value(1), "bytes 10-262153/1048581");

        // The status claims the whole file as well, without it: invalid.
        server.clearRequests();
        server.clearFaults();
        server.injectFault(Endpoint::uploadChunk, greedy);
        Fault claim;
        claim.claimHeld = claimed;
        server.injectFault(Endpoint::uploadStatus, claim);
        EXPECT_EQ(uploadError(localFile(content)), Code::invalidResponse);
        EXPECT_EQ(server.count(Endpoint::uploadChunk), 1);
        EXPECT_EQ(server.count(Endpoint::uploadStatus), 1);
    }
}

TEST_F(ResumableUploads, ReadsStayWithinTheDeclaredSize) {
    // The file grew after it was inspected: only the declared bytes are sent, in well-formed
    // ranges.
    LocalFile file = localFile(content);
    {
        QFile grow(file.url.toLocalFile());
        ASSERT_TRUE(grow.open(QIODevice::Append));
        grow.write(QByteArray(300000, 'x'));
    }
    EXPECT_EQ(stored(upload(file)), content);
    EXPECT_TRUE(server.violations().isEmpty()) << server.violations().join("\n").toStdString();
    EXPECT_EQ(chunkRanges().last(), "bytes 1048576-1048580/1048581");

    // The file shrank: the missing bytes are a local failure.
    server.clearRequests();
    LocalFile shrunk = localFile(content.left(300000), QStringLiteral("short.bin"));
    shrunk.sizeBytes = content.size();
    EXPECT_EQ(uploadError(shrunk), Code::localFileUnreadable);
    EXPECT_LE(server.count(Endpoint::uploadChunk), 1);

    LocalFile missing = localFile(content, QStringLiteral("gone.bin"));
    QFile::remove(missing.url.toLocalFile());
    EXPECT_EQ(uploadError(missing), Code::localFileUnreadable);
}

TEST_F(ResumableUploads, CancellationStopsBetweenChunks) {
    std::stop_source stop;
    Cancellation::Scope scope(stop.get_token());
    try {
        provider->upload(account, localFile(content), std::nullopt, [&](qint64 bytes) {
            if (bytes >= 2 * kChunk)
                stop.request_stop();
        });
        ADD_FAILURE() << "the upload was not cancelled";
    } catch (const StorageError& error) {
        EXPECT_EQ(error.code(), Code::cancelled);
    }
    EXPECT_LE(server.count(Endpoint::uploadChunk), 3);
    EXPECT_FALSE(server.fileNamed(QStringLiteral("data.bin")));
}

TEST_F(ResumableUploads, AFileReplacedByRenameMidUploadSendsTheOriginalBytes) {
    // Editors save by writing a new file and renaming it over the old one. The chunks after
    // the rename still come from the file that was opened when the upload began.
    const LocalFile file = localFile(content);
    const QString path = file.url.toLocalFile();
    const QByteArray replacement = FakeDriveServer::syntheticBytes(999, content.size());
    bool replaced = false;
    const FileItem item = provider->upload(account, file, std::nullopt, [&](qint64 bytes) {
        if (!replaced && bytes >= kChunk) {
            replaced = true;
            const QString saved = writeLocal(QStringLiteral("saved.tmp"), replacement);
            ASSERT_EQ(
                ::rename(QFile::encodeName(saved).constData(), QFile::encodeName(path).constData()),
                0);
        }
    });
    ASSERT_TRUE(replaced);
    EXPECT_EQ(stored(item), content);
    EXPECT_EQ(server.count(Endpoint::uploadChunk), 5);
    EXPECT_TRUE(server.violations().isEmpty()) << server.violations().join("\n").toStdString();
}

TEST_F(ResumableUploads, AFileWrittenInPlaceMidUploadFailsAndLeavesNoMixedCopy) {
    // Written to in place (same file, new bytes): what was sent no longer matches the rest.
    // Between chunks the upload stops; during the last chunk the created copy goes to the
    // trash. Either way the upload fails instead of reporting a mix as done.
    struct Case {
        const char* name;
        qint64 writeAt; // progress at which the file is written to
    };
    for (const Case& c :
         {Case{"between chunks", kChunk}, Case{"in the last chunk", 4 * kChunk + 1}}) {
        SCOPED_TRACE(c.name);
        server.clearRequests();
        const LocalFile file = localFile(content, QStringLiteral("edited.bin"));
        {
            // Last saved a while ago, so the edit's time stamp differs whatever the clock's
            // granularity.
            QFile old(file.url.toLocalFile());
            ASSERT_TRUE(old.open(QIODevice::ReadWrite));
            ASSERT_TRUE(old.setFileTime(QDateTime::currentDateTimeUtc().addDays(-1),
                                        QFileDevice::FileModificationTime));
        }
        bool written = false;
        try {
            provider->upload(account, file, std::nullopt, [&](qint64 bytes) {
                if (!written && bytes >= c.writeAt) {
                    written = true;
                    QFile edit(file.url.toLocalFile());
                    ASSERT_TRUE(edit.open(QIODevice::ReadWrite));
                    ASSERT_TRUE(edit.seek(content.size() - 3));
                    edit.write("new");
                }
            });
            ADD_FAILURE() << "the upload succeeded";
        } catch (const StorageError& error) {
            EXPECT_EQ(error.code(), Code::localFileUnreadable);
        }
        ASSERT_TRUE(written);
        const auto copy = server.fileNamed(QStringLiteral("edited.bin"));
        EXPECT_TRUE(!copy || copy->trashed);
    }
}
