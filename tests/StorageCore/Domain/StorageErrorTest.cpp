#include "StorageCore/Domain/StorageError.h"
#include "StorageCore/Concurrency/Completion.h"

#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace tw;
using Code = StorageError::Code;

namespace {

struct Row {
    StorageError error;
    const char* name;
    const char* title;
    const char* message;
    std::optional<RecoveryAction> recovery;
    bool retryable;
};

const auto reconnect = RecoveryAction::reconnect;
const auto retry = RecoveryAction::retry;
const std::optional<RecoveryAction> none;

// Every case, in declaration order, with its fixed texts.
const Row kRows[] = {
    {StorageError::accountMismatch(QStringLiteral("ada@example.com")), "accountMismatch",
     "That's a different account.",
     "This storage belongs to ada@example.com. Sign in with that account to reconnect it.",
     reconnect, false},
    {StorageError::fileTooLarge(2'000'000'000), "fileTooLarge",
     "This file is too large for this storage.",
     "Files here can be up to 2 GB. Choose a smaller file or another storage.", none, false},
    {Code::notConfigured, "notConfigured", "Sign-in isn't available in this build.",
     "This copy of Kelvanor wasn't built with sign-in support for this service. Download the "
     "latest version and try again.",
     none, false},
    {Code::authorizationCancelled, "authorizationCancelled", "Sign-in was cancelled.",
     "No account was connected. You can try again whenever you're ready.", retry, false},
    {Code::authorizationFailed, "authorizationFailed", "Sign-in didn't complete.",
     "The service didn't grant the access Kelvanor needs. Try connecting again and allow access "
     "to your files.",
     retry, false},
    {Code::reauthRequired, "reauthRequired", "Kelvanor couldn't access this account.",
     "The service needs you to sign in again. Reconnect this account to continue.", reconnect,
     false},
    {Code::offline, "offline", "You're offline.",
     "Kelvanor can't reach the storage service. Check your internet connection and try again.",
     retry, true},
    {Code::network, "network", "The connection was interrupted.",
     "This is usually temporary. Try again in a moment.", retry, true},
    {Code::notFound, "notFound", "This item is no longer available.",
     "It may have been moved or deleted.", retry, false},
    {Code::permissionDenied, "permissionDenied", "You don't have permission to do that.",
     "This account doesn't have access to it.", none, false},
    {Code::storageFull, "storageFull", "This storage is full.",
     "Free up space in this account or choose a different storage.", none, false},
    {Code::rateLimited, "rateLimited", "The service asked us to slow down.",
     "Too many requests were sent in a short time. Wait a moment, then try again.", retry, true},
    {Code::server, "server", "The storage service is having trouble.",
     "It returned an unexpected response. Try again in a moment.", retry, true},
    {Code::invalidResponse, "invalidResponse", "The storage service is having trouble.",
     "It returned an unexpected response. Try again in a moment.", retry, false},
    {Code::invalidName, "invalidName", "That name can't be used.", "Enter a name that isn't empty.",
     none, false},
    {Code::localFileUnreadable, "localFileUnreadable", "This file couldn't be read.",
     "It may have been moved, deleted, or Kelvanor may not have permission to open it.", none,
     false},
    {Code::localWriteFailed, "localWriteFailed", "The file couldn't be saved.",
     "Check that the destination has enough free space and that you can write to it.", retry,
     false},
    {Code::folderUploadUnsupported, "folderUploadUnsupported", "Folders can't be uploaded yet.",
     "Select the files inside the folder instead. Folder upload is coming soon.", none, false},
    {Code::unsupportedDownload, "unsupportedDownload", "Google Docs can't be downloaded directly.",
     "Open it in your browser to export a copy.", none, false},
    {Code::exportTooLarge, "exportTooLarge", "This document is too large to preview.",
     "Google can only convert documents up to 10 MB for previewing. Open it in your browser "
     "instead.",
     none, false},
    {Code::notSupported, "notSupported", "This storage can't do that.",
     "The service behind this storage doesn't support this action.", none, false},
    {Code::sessionInUse, "sessionInUse", "This account is open in another copy of Kelvanor.",
     "Quit the other copy, then try again.", retry, false},
    {Code::previewUnavailable, "previewUnavailable", "This file couldn't be displayed.",
     "It may be damaged or in a format this computer can't read. You can still download it.", none,
     false},
    {Code::cancelled, "cancelled", "Cancelled.", "The operation was stopped.", retry, true},
    {Code::keyringLocked, "keyringLocked", "The keyring is locked.",
     "Kelvanor keeps sign-ins in your keyring. Unlock it, then try again. Nothing was removed.",
     retry, false},
    {Code::keyringUnavailable, "keyringUnavailable", "The keyring isn't available.",
     "Kelvanor keeps sign-ins in your keyring and couldn't use it. Check that a keyring service "
     "is running, then try again. Nothing was removed.",
     retry, false},
};

TEST(StorageError, PresentationOfEveryCase) {
    ASSERT_EQ(std::size(kRows), size_t(StorageError::caseCount));
    int reconnects = 0, retries = 0, nones = 0;
    for (size_t i = 0; i < std::size(kRows); ++i) {
        const Row& row = kRows[i];
        SCOPED_TRACE(row.name);
        EXPECT_EQ(int(row.error.code()), int(i)) << "declaration order";
        EXPECT_EQ(row.error.caseName(), QLatin1String(row.name));
        const ErrorPresentation p = row.error.presentation();
        EXPECT_EQ(p.title, QString::fromUtf8(row.title));
        EXPECT_EQ(p.message, QString::fromUtf8(row.message));
        EXPECT_EQ(p.recovery, row.recovery);
        EXPECT_EQ(row.error.isRetryable(), row.retryable);
        EXPECT_EQ(std::string(row.error.what()), std::string("StorageError.") + row.name);
        if (!p.recovery) {
            EXPECT_EQ(p.recoveryTitle(), std::nullopt);
            ++nones;
        } else if (*p.recovery == RecoveryAction::reconnect) {
            EXPECT_EQ(p.recoveryTitle(), QStringLiteral("Reconnect"));
            ++reconnects;
        } else {
            EXPECT_EQ(p.recoveryTitle(), QStringLiteral("Try Again"));
            ++retries;
        }
    }
    EXPECT_EQ(reconnects, 2);
    EXPECT_EQ(retries, 13);
    EXPECT_EQ(nones, 11);
}

TEST(StorageError, PayloadsTakePartInEquality) {
    EXPECT_EQ(StorageError::accountMismatch(QStringLiteral("a")),
              StorageError::accountMismatch(QStringLiteral("a")));
    EXPECT_NE(StorageError::accountMismatch(QStringLiteral("a")),
              StorageError::accountMismatch(QStringLiteral("b")));
    EXPECT_EQ(StorageError::fileTooLarge(5), StorageError::fileTooLarge(5));
    EXPECT_NE(StorageError::fileTooLarge(5), StorageError::fileTooLarge(6));
    EXPECT_NE(StorageError(Code::server), StorageError(Code::invalidResponse));
    EXPECT_EQ(StorageError::fileTooLarge(9).limit(), 9);
    EXPECT_EQ(StorageError::accountMismatch(QStringLiteral("x")).expectedEmail(),
              QStringLiteral("x"));

    const ErrorPresentation empty = StorageError::accountMismatch(QString()).presentation();
    EXPECT_EQ(
        empty.message,
        QStringLiteral("This storage belongs to . Sign in with that account to reconnect it."));
}

TEST(StorageError, ConversionOfForeignFailures) {
    auto convert = [](auto thrower) {
        try {
            thrower();
        } catch (...) {
            return StorageError::current();
        }
        return StorageError(Code::server); // not reached
    };
    EXPECT_EQ(convert([] { throw StorageError::fileTooLarge(3); }), StorageError::fileTooLarge(3));
    EXPECT_EQ(convert([] { throw StorageError(Code::cancelled); }).code(), Code::cancelled);
    EXPECT_EQ(convert([] { throw std::runtime_error("decoding failed"); }).code(), Code::network);
    EXPECT_EQ(convert([] { throw 42; }).code(), Code::network);
    EXPECT_EQ(StorageError::from(nullptr).code(), Code::network);
}

TEST(StorageError, OneFailureReadByManyWaitersAtOnce) {
    // A shared result rethrows the same error object in every waiting thread; reading its
    // text there must not write into it (ThreadSanitizer reports any such write).
    Completion<int> shared;
    shared.fail(StorageError::accountMismatch(QStringLiteral("ada@example.com")));
    constexpr int waiters = 8;
    std::vector<std::string> texts(waiters);
    std::vector<std::thread> threads;
    for (int i = 0; i < waiters; ++i)
        threads.emplace_back([&shared, &texts, i] {
            try {
                shared.wait();
            } catch (const std::exception& error) {
                texts[i] = error.what();
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    for (const std::string& text : texts)
        EXPECT_EQ(text, "StorageError.accountMismatch");
}

TEST(StorageError, FileStyleByteCounts) {
    struct Case {
        qint64 bytes;
        const char* text;
    };
    const Case cases[] = {
        {0, "Zero KB"},
        {1, "1 byte"},
        {999, "999 bytes"},
        {1000, "1 KB"},
        {1499, "1 KB"},
        {1500, "2 KB"},
        {999'499, "999 KB"},
        {1'000'000, "1 MB"},
        {1'260'000, "1.3 MB"},
        {10'000'000, "10 MB"},
        {2'000'000'000, "2 GB"},
        {2'147'483'648, "2.15 GB"},
        {1'500'000'000'000, "1.5 TB"},
        {std::numeric_limits<qint64>::max(), "9.22 EB"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(formatFileByteCount(c.bytes), QLatin1String(c.text)) << c.bytes;
}

} // namespace
