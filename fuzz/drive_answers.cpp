// The Drive answers: file, list, about and error-envelope decoding, the date and 64-bit
// number parsers and the error mapper, each fed the same bytes. What decodes encodes back to
// the same record; the number parser agrees with a plain reading of its grammar.

#include "FuzzCheck.h"

#include "GoogleDriveProvider/Drive/DriveErrorMapper.h"
#include "GoogleDriveProvider/Drive/DriveModels.h"

#include <QHash>
#include <QJsonDocument>
#include <QTimeZone>

using namespace tw;

namespace {

QByteArray encoded(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

void checkFile(const DriveFile& file) {
    const auto again = DriveFile::decode(encoded(file.toJson()));
    FUZZ_CHECK(again && *again == file);
    const FileItem item = file.item(QUuid());
    FUZZ_CHECK(item.name == file.name);
    if (item.modifiedAt)
        FUZZ_CHECK(item.modifiedAt->isValid());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray body = fuzz::bytes(data, size);

    if (const auto file = DriveFile::decode(body))
        checkFile(*file);
    if (const auto list = DriveFileList::decode(body)) {
        for (const DriveFile& file : list->files.value_or(QList<DriveFile>()))
            checkFile(file);
        const auto again = DriveFileList::decode(encoded(list->toJson()));
        FUZZ_CHECK(again && again->toJson() == list->toJson());
    }
    if (const auto about = DriveAbout::decode(body)) {
        (void)about->quota();
        const auto again = DriveAbout::decode(encoded(about->toJson()));
        FUZZ_CHECK(again && again->toJson() == about->toJson());
    }
    if (const auto envelope = DriveErrorEnvelope::decode(body)) {
        const QList<QString> reasons = envelope->reasons();
        const auto again = DriveErrorEnvelope::decode(encoded(envelope->toJson()));
        FUZZ_CHECK(again && again->reasons() == reasons);
    }

    // The mapper never fails, whatever the status and body.
    static constexpr int statuses[] = {0,   200, 304, 400, 401, 403, 404, 408,
                                       409, 412, 416, 429, 500, 503, 599, 600};
    const int status = statuses[qHash(body) % std::size(statuses)];
    const StorageError error = DriveErrorMapper::map(status, body);
    FUZZ_CHECK(!error.isCancelled());
    if (status != 403)
        FUZZ_CHECK(error == DriveErrorMapper::map(status, QByteArray()));

    const QString text = QString::fromUtf8(body);
    if (const auto date = DriveDate::parse(text)) {
        FUZZ_CHECK(date->isValid() && date->offsetFromUtc() == 0);
        FUZZ_CHECK(text.size() >= 20);
    }
    FUZZ_CHECK(parseDecimalInt64(text) == fuzz::referenceDecimal(text));
    return 0;
}
