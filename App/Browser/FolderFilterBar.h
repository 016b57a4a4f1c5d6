#pragma once

#include "StorageCore/Domain/FileModel.h"

#include <QWidget>

#include <optional>

class QButtonGroup;

namespace tw {

/// The bar above the folder table that narrows it to one file category: "All" and one
/// segment per category, exactly one of them checked. Children are named "filterAll" and
/// "filter" + the category's name ("filterPhotos").
class FolderFilterBar : public QWidget {
    Q_OBJECT
public:
    explicit FolderFilterBar(QWidget* parent = nullptr);

    /// Checks the segment of filter (none: "All").
    void setFilter(const std::optional<FileCategory>& filter);

Q_SIGNALS:
    /// A segment was clicked (none: "All").
    void filterChosen(const std::optional<FileCategory>& filter);

private:
    QButtonGroup* segments_;
};

} // namespace tw
