#pragma once
// Ranged reads of a local file with pread, as a back end's read would deliver them; shared by
// the ZIP benchmark and the stand-alone tool it times against unzip. The bytes go into the
// buffer the reader hands over, whose memory is reused from one read to the next.

#include "StorageCore/Preview/ZipArchive.h"

#include <QByteArray>

#include <unistd.h>

namespace tw::bench {

inline ZipReadFunction preadFunction(int fd) {
    return [fd](ByteRange range, QByteArray& bytes) {
        bytes.resize(range.length());
        qint64 done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::pread(fd, bytes.data() + done, size_t(bytes.size() - done),
                                      off_t(range.lower + done));
            if (n <= 0)
                break;
            done += n;
        }
        bytes.truncate(done);
    };
}

} // namespace tw::bench
