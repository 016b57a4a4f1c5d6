#include "tests/support/ZipBuilder.h"

#include <zlib.h>

#include <stdexcept>

namespace tw::test {
namespace {

void put16(QByteArray& out, quint32 v) {
    out.append(char(v & 0xff));
    out.append(char((v >> 8) & 0xff));
}

void put32(QByteArray& out, quint32 v) {
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}

/// Raw deflate (no zlib header), as ZIP's method 8 stores it.
QByteArray deflateRaw(const QByteArray& data) {
    z_stream s{};
    if (deflateInit2(&s, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    QByteArray out(int(deflateBound(&s, uLong(data.size()))), Qt::Uninitialized);
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    s.avail_in = uInt(data.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = uInt(out.size());
    const int rc = deflate(&s, Z_FINISH);
    deflateEnd(&s);
    if (rc != Z_STREAM_END)
        throw std::runtime_error("deflate failed");
    out.truncate(int(s.total_out));
    return out;
}

// 2024-05-17 13:45:30 in MS-DOS form.
constexpr quint16 dosTime = (13 << 11) | (45 << 5) | (30 / 2);
constexpr quint16 dosDate = ((2024 - 1980) << 9) | (5 << 5) | 17;

} // namespace

ZipBuilder& ZipBuilder::addFolder(QString path) {
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    add(path, {}, Method::stored, true);
    return *this;
}

ZipBuilder& ZipBuilder::addFile(const QString& path, const QByteArray& content, Method method) {
    add(path, content, method, false);
    return *this;
}

void ZipBuilder::add(const QString& path, const QByteArray& content, Method method,
                     bool folder) {
    const QByteArray name = path.toUtf8();
    bool ascii = true;
    for (char c : name)
        ascii = ascii && uchar(c) < 0x80;
    const quint16 flags = ascii ? 0 : 0x0800;
    const QByteArray data = method == Method::deflated ? deflateRaw(content) : content;
    const quint16 methodCode = method == Method::deflated ? 8 : 0;
    const quint32 crc = quint32(
        crc32(0, reinterpret_cast<const Bytef*>(content.constData()), uInt(content.size())));
    const quint32 offset = quint32(members_.size());

    put32(members_, 0x04034b50);
    put16(members_, method == Method::deflated ? 20 : 10);
    put16(members_, flags);
    put16(members_, methodCode);
    put16(members_, dosTime);
    put16(members_, dosDate);
    put32(members_, crc);
    put32(members_, quint32(data.size()));
    put32(members_, quint32(content.size()));
    put16(members_, quint32(name.size()));
    put16(members_, 0);
    members_.append(name);
    members_.append(data);

    put32(directory_, 0x02014b50);
    put16(directory_, (3 << 8) | 30); // made on Unix
    put16(directory_, method == Method::deflated ? 20 : 10);
    put16(directory_, flags);
    put16(directory_, methodCode);
    put16(directory_, dosTime);
    put16(directory_, dosDate);
    put32(directory_, crc);
    put32(directory_, quint32(data.size()));
    put32(directory_, quint32(content.size()));
    put16(directory_, quint32(name.size()));
    put16(directory_, 0); // extra
    put16(directory_, 0); // comment
    put16(directory_, 0); // disk
    put16(directory_, 0); // internal attributes
    put32(directory_, folder ? (quint32(040755) << 16) | 0x10 : quint32(0100644) << 16);
    put32(directory_, offset);
    directory_.append(name);
    ++count_;
}

QByteArray ZipBuilder::bytes() const {
    QByteArray out = members_ + directory_;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, count_);
    put16(out, count_);
    put32(out, quint32(directory_.size()));
    put32(out, quint32(members_.size()));
    put16(out, 0);
    return out;
}

} // namespace tw::test
