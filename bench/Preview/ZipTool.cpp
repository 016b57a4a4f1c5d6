// tw-zip-tool: our ZIP reader as a whole process, so that the ZIP benchmark times it the way
// it times Info-ZIP's unzip (process start, reading the file, writing the result included).
//
//   tw-zip-tool list <archive>              member paths, one a line (as `unzip -Z1`)
//   tw-zip-tool extract <archive> <member>  the member's bytes on standard output (`unzip -p`)
#include "StorageCore/Preview/ZipArchive.h"
#include "bench/Preview/PreadRead.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

using namespace tw;
using tw::bench::preadFunction;

int main(int argc, char** argv) {
    if (argc < 3 || (std::strcmp(argv[1], "list") != 0 && std::strcmp(argv[1], "extract") != 0) ||
        (std::strcmp(argv[1], "extract") == 0 && argc < 4)) {
        std::fprintf(stderr, "usage: tw-zip-tool list <archive> | extract <archive> <member>\n");
        return 2;
    }
    const int fd = ::open(argv[2], O_RDONLY);
    if (fd < 0) {
        std::perror(argv[2]);
        return 1;
    }
    const qint64 size = ::lseek(fd, 0, SEEK_END);
    try {
        const ZipEntries entries = ZipArchiveReader::entries(size, preadFunction(fd));
        QFile out;
        if (!out.open(stdout, QIODevice::WriteOnly))
            return 1;
        if (std::strcmp(argv[1], "list") == 0) {
            // Written as it goes, a buffer at a time, the way unzip writes its list.
            QByteArray text;
            text.reserve(64 * 1024);
            for (qsizetype i = 0; i < entries.size(); ++i) {
                text += entries.pathBytes(i);
                text += '\n';
                if (text.size() >= 60 * 1024) {
                    out.write(text);
                    text.truncate(0);
                }
            }
            out.write(text);
            return 0;
        }
        const QByteArray wanted(argv[3]);
        for (qsizetype i = 0; i < entries.size(); ++i) {
            if (entries.pathBytes(i) == wanted) {
                ZipArchiveReader::extractTo(entries.at(i), preadFunction(fd), out);
                return 0;
            }
        }
        std::fprintf(stderr, "no member %s\n", argv[3]);
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "failed: %s\n", error.what());
        return 1;
    }
}
