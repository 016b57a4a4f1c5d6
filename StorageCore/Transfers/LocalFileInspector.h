#pragma once

#include "StorageCore/Domain/FileModel.h"
#include "StorageCore/Domain/StorageError.h"

#include <QList>
#include <QUrl>

#include <utility>

namespace tw::LocalFileInspector {

/// Accepted files and refused URLs (each with its reason), both in the order of the input.
struct Inspection {
    QList<LocalFile> files;
    QList<std::pair<QUrl, StorageError>> rejected;
};

/// Examines one local file (never opens or changes it): a readable regular file gives its
/// name (the URL's last path component), size and MIME type (by extension; unknown:
/// "application/octet-stream"). Throws StorageError folderUploadUnsupported for a folder and
/// localFileUnreadable for anything else that cannot be uploaded.
LocalFile inspect(const QUrl& url);

/// inspect() for each URL; never throws.
Inspection inspectAll(const QList<QUrl>& urls);

} // namespace tw::LocalFileInspector
