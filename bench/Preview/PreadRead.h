#pragma once
// Ranged reads of a local file with pread, as a back end's read would deliver them; shared by
// the ZIP benchmark and the stand-alone tool it times against unzip.

#include "StorageCore/Preview/ZipArchive.h"

#include <QByteArray>

#include <unistd.h>

namespace tw::bench {

inline ZipReadFunction preadFunction(int fd) {
    return [fd](ByteRange range) {
        QByteArray bytes(range.length(), Qt::Uninitialized);
        qint64 done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::pread(fd, bytes.data() + done, size_t(bytes.size() - done),
                                      off_t(range.lower + done));
            if (n <= 0)
                break;
            done += n;
        }
        bytes.truncate(done);
        return bytes;
    };
}

} // namespace tw::bench
