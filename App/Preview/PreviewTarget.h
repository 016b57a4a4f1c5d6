#pragma once

#include "StorageCore/Domain/FileModel.h"

#include <QJsonObject>

#include <functional>
#include <optional>

namespace tw {

/// What a preview window shows, and its identity: the file, and the folder listing (with its
/// category filter) or the search it was opened from. One window exists per distinct target.
struct PreviewTarget {
    FileRef file;
    /// The folder whose listing supplies the files to step through; none means the root.
    std::optional<QString> folderID;
    /// The category the folder table was filtered to; none means all files.
    std::optional<FileCategory> filter;
    /// Present only for a window opened from search results.
    std::optional<QString> searchQuery;

    bool operator==(const PreviewTarget&) const = default;
    bool isSearch() const { return searchQuery.has_value(); }

    /// Keys "file", "folderID", "filter", "searchQuery"; absent optionals are left out.
    QJsonObject toJson() const;
    /// Fails (none) when any present key is malformed or "file" is missing.
    static std::optional<PreviewTarget> fromJson(const QJsonObject& object);
};
size_t qHash(const PreviewTarget& target, size_t seed = 0) noexcept;

/// Opens the preview window for a target, or raises the one already open for it.
using OpenPreview = std::function<void(const PreviewTarget&)>;

} // namespace tw
