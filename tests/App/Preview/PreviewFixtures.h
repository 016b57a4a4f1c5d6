// Files the preview tests make for themselves (PDFs, images, an animated GIF, ZIP archives
// with hand-picked member names) and a model fixture that serves them from the fake back end.
#pragma once

#include "App/Preview/PreviewContentView.h"
#include "StorageCore/Files/FolderListing.h"
#include "StorageCore/Preview/PreviewLoader.h"
#include "tests/App/Model/AppModelFixture.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QtEndian>

#include <zlib.h>

#include <optional>

namespace tw::test {

/// A PDF of `pages` pages; page i carries the text words[i] (if any) under a heading.
inline QByteArray makePDF(int pages, const QHash<int, QString>& words = {}) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QPdfWriter writer(&buffer);
    writer.setPageSize(QPageSize(QPageSize::A5));
    writer.setResolution(72);
    QPainter painter(&writer);
    QFont font = painter.font();
    font.setPointSize(18);
    painter.setFont(font);
    for (int page = 0; page < pages; ++page) {
        if (page > 0)
            writer.newPage();
        painter.drawText(QPointF(40, 60), QStringLiteral("Page %1").arg(page + 1));
        if (words.contains(page))
            painter.drawText(QPointF(40, 140), QStringLiteral("The word ") + words.value(page) +
                                                   QStringLiteral(" stands here."));
    }
    painter.end();
    buffer.close();
    return bytes;
}

/// An image of the size in the format ("png", "jpeg"), optionally with an EXIF orientation.
inline QByteArray
makeImage(QSize size, const char* format = "png",
          QImageIOHandler::Transformations turn = QImageIOHandler::TransformationNone) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(0x30, 0x80, 0xD0));
    QPainter painter(&image);
    // A mark in the top-left corner tells turned images apart.
    painter.fillRect(QRect(0, 0, std::max(1, size.width() / 4), std::max(1, size.height() / 4)),
                     Qt::red);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setTransformation(turn);
    writer.write(image);
    return bytes;
}

/// A 2×2 GIF of two frames (black, then white) that loops.
inline QByteArray animatedGIF() {
    const unsigned char bytes[] = {
        'G',  'I',  'F',  '8',  '9',  'a',  0x02, 0x00, 0x02, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00,
        0x00, 0xFF, 0xFF, 0xFF, 0x21, 0xFF, 0x0B, 'N',  'E',  'T',  'S',  'C',  'A',  'P',  'E',
        '2',  '.',  '0',  0x03, 0x01, 0x00, 0x00, 0x00, 0x21, 0xF9, 0x04, 0x00, 0x0A, 0x00, 0x00,
        0x00, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x02, 0x00, 0x00, 0x02, 0x03, 0x04, 0x00,
        0x05, 0x00, 0x21, 0xF9, 0x04, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00, 0x00,
        0x02, 0x00, 0x02, 0x00, 0x00, 0x02, 0x03, 0x4C, 0x12, 0x05, 0x00, 0x3B};
    return QByteArray(reinterpret_cast<const char*>(bytes), sizeof(bytes));
}

/// A GIF of `size` whose frames are each filled with one colour, shown `delayMs` each (in
/// GIF's hundredths), looping `loops` more times after the first pass (0: for ever, as
/// GIF's NETSCAPE block says; none: no block, played once). The LZW data holds literal codes
/// only, a clear code before the table would widen them: plain to write, valid to read.
inline QByteArray makeGIF(QSize size, const QList<QColor>& frames, int delayMs,
                          std::optional<int> loops) {
    QByteArray out("GIF89a");
    auto u16 = [&out](int v) { out.append(char(v & 0xFF)).append(char((v >> 8) & 0xFF)); };
    u16(size.width());
    u16(size.height());
    out.append(char(0xF7)).append(char(0)).append(char(0)); // a 256-colour global table
    for (int i = 0; i < 256; ++i) {
        const QColor c = i < frames.size() ? frames.at(i) : QColor(Qt::black);
        out.append(char(c.red())).append(char(c.green())).append(char(c.blue()));
    }
    if (loops) {
        out.append("\x21\xFF\x0BNETSCAPE2.0\x03\x01", 16);
        u16(*loops);
        out.append(char(0));
    }
    constexpr int clear = 256, end = 257, width = 9, literalsPerClear = 254;
    for (int index = 0; index < frames.size(); ++index) {
        out.append("\x21\xF9\x04\x00", 4);
        u16(delayMs / 10);
        out.append(char(0)).append(char(0));
        out.append(char(0x2C));
        u16(0);
        u16(0);
        u16(size.width());
        u16(size.height());
        out.append(char(0)).append(char(8)); // no local table; 8-bit codes
        QByteArray data;
        quint32 bits = 0;
        int held = 0;
        auto code = [&](int value) {
            bits |= quint32(value) << held;
            for (held += width; held >= 8; held -= 8, bits >>= 8)
                data.append(char(bits & 0xFF));
        };
        const qint64 pixels = qint64(size.width()) * size.height();
        for (qint64 p = 0; p < pixels; ++p) {
            if (p % literalsPerClear == 0)
                code(clear);
            code(index);
        }
        code(end);
        if (held > 0)
            data.append(char(bits & 0xFF));
        for (qsizetype at = 0; at < data.size(); at += 255) {
            const qsizetype n = std::min<qsizetype>(255, data.size() - at);
            out.append(char(n)).append(data.constData() + at, n);
        }
        out.append(char(0));
    }
    out.append(char(0x3B));
    return out;
}

/// One member of a hand-made ZIP archive (stored, as written).
struct ZipMember {
    QByteArray path;
    QByteArray data;
    quint16 method = 0;
    bool encrypted = false;
    bool dated = true;
};

/// A ZIP archive with exactly these members and names (no tool would write some of them).
inline QByteArray makeZip(const QList<ZipMember>& members) {
    QByteArray out, central;
    auto u16 = [](QByteArray& b, quint16 v) { b.append(char(v & 0xFF)).append(char(v >> 8)); };
    auto u32 = [&](QByteArray& b, quint32 v) {
        u16(b, quint16(v & 0xFFFF));
        u16(b, quint16(v >> 16));
    };
    const quint16 time = quint16(10 << 11);
    const quint16 date = quint16(((2025 - 1980) << 9) | (3 << 5) | 4);
    for (const ZipMember& m : members) {
        const quint32 offset = quint32(out.size());
        const quint32 crc = quint32(
            crc32(0, reinterpret_cast<const Bytef*>(m.data.constData()), uInt(m.data.size())));
        const quint16 flags = m.encrypted ? 1 : 0;
        auto header = [&](QByteArray& b, bool isCentral) {
            u32(b, isCentral ? 0x02014b50 : 0x04034b50);
            if (isCentral)
                u16(b, 20);
            u16(b, 20);
            u16(b, flags);
            u16(b, m.method);
            u16(b, m.dated ? time : 0);
            u16(b, m.dated ? date : 0);
            u32(b, crc);
            u32(b, quint32(m.data.size()));
            u32(b, quint32(m.data.size()));
            u16(b, quint16(m.path.size()));
            u16(b, 0);
            if (isCentral) {
                u16(b, 0);
                u16(b, 0);
                u16(b, 0);
                u32(b, 0);
                u32(b, offset);
            }
            b.append(m.path);
        };
        header(out, false);
        out.append(m.data);
        header(central, true);
    }
    const quint32 centralOffset = quint32(out.size());
    out.append(central);
    u32(out, 0x06054b50);
    u16(out, 0);
    u16(out, 0);
    u16(out, quint16(members.size()));
    u16(out, quint16(members.size()));
    u32(out, quint32(central.size()));
    u32(out, centralOffset);
    u16(out, 0);
    return out;
}

/// The model over fakes, with one Drive account whose files the tests add.
class PreviewFixture : public AppModelFixture {
protected:
    void SetUp() override {
        AppModelFixture::SetUp();
        account = storedAccount(ProviderKind::googleDrive, QStringLiteral("Work"));
        other = storedAccount(ProviderKind::telegram, QStringLiteral("Chats"), 1);
        storeAccounts({account, other});
    }

    /// Adds a file to the fake back end under parent (none = the root).
    FileItem addFile(const QString& name, const QString& mimeType, const QByteArray& content,
                     const std::optional<QString>& parent = std::nullopt,
                     std::optional<QUuid> accountID = std::nullopt) {
        FileItem item;
        item.ref = FileRef{accountID.value_or(account.id), QStringLiteral("id-%1").arg(++counter)};
        item.name = name;
        item.mimeType = mimeType;
        item.sizeBytes = content.size();
        item.modifiedAt = QDateTime(QDate(2025, 3, 4), QTime(9, 41), Qt::UTC);
        if (parent)
            item.parentIDs = {*parent};
        drive->addItem(item, content);
        telegram->addItem(item, content);
        return item;
    }

    /// Loads the listing of a folder of the account and waits for it.
    FolderListing* loadedListing(const std::optional<QString>& folder = std::nullopt) {
        FolderListing* listing = model->listing(account.id, folder);
        listing->load();
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return listing->phase().kind == FolderListing::Phase::Kind::loaded; }, 5000));
        return listing;
    }

    /// The model's loader for the item, loaded to its end.
    std::shared_ptr<PreviewLoader> sharedReadyLoader(const FileItem& item) {
        std::shared_ptr<PreviewLoader> loader = model->previewLoader(item);
        loader->load();
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                const auto kind = loader->phase().kind();
                return kind != PreviewLoader::Phase::Kind::loading &&
                       kind != PreviewLoader::Phase::Kind::idle;
            },
            10000));
        return loader;
    }
    /// The same, for tests that only look at it (the model keeps its last loaders).
    PreviewLoader* readyLoader(const FileItem& item) { return sharedReadyLoader(item).get(); }

    StorageAccount account;
    StorageAccount other;
    int counter = 0;
};

} // namespace tw::test
