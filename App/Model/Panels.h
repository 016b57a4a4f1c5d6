#pragma once

#include "StorageCore/Domain/FileModel.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <functional>

namespace tw {

/// The questions the model asks the user on its own: which files, where to save, which
/// application. Each answers later through its callback (never with a nested event loop);
/// a cancelled panel never calls back. Tests give the model panels that answer at once.
class Panels {
public:
    virtual ~Panels() = default;
    /// Several files, no folders.
    virtual void chooseFiles(const QString& prompt, const QString& message,
                             std::function<void(const QList<QUrl>&)> onChosen) = 0;
    /// A place to save a file, proposed under proposedName (folders may be created).
    virtual void chooseSaveLocation(const QString& proposedName,
                                    std::function<void(const QUrl&)> onChosen) = 0;
    /// An application for the file (its MIME type decides which are recommended); answers
    /// with the application's id.
    virtual void chooseApplication(const FileItem& item, const QString& message,
                                   std::function<void(const QString&)> onChosen) = 0;
};

} // namespace tw
