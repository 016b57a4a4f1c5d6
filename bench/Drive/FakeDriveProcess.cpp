// tw-fake-drive: the fake Drive server in a process of its own, for the transfer benchmarks.
//
//   tw-fake-drive [--synthetic <bytes>]
//
// Prints one line, "<port> <synthetic file id or -> <access token> <refresh token>", then
// serves until its standard input ends. Requests are not recorded and uploads not kept, so
// that its memory stays flat whatever is sent.
#include "tests/support/FakeDriveServer.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

using tw::test::FakeDriveServer;

int main(int argc, char** argv) {
    qint64 synthetic = 0;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--synthetic") == 0)
            synthetic = QByteArray(argv[i + 1]).toLongLong();
    FakeDriveServer server;
    server.setRecording(false);
    server.setStoreUploads(false);
    const QString id = synthetic > 0
                           ? server.addSyntheticFile(QStringLiteral("big.bin"), synthetic)
                           : QStringLiteral("-");
    const FakeDriveServer::Tokens tokens = server.issueTokens();
    std::printf("%d %s %s %s\n", server.port(), qPrintable(id), qPrintable(tokens.accessToken),
                qPrintable(tokens.refreshToken));
    std::fflush(stdout);
    char buffer[256];
    while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    return 0;
}
