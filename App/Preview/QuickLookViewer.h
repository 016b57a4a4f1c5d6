#pragma once

#include "StorageCore/Domain/FileModel.h"

#include <QUrl>
#include <QWidget>

class QPlainTextEdit;

namespace tw {

/// The preview of any other local file (documents, text, files of unknown type): text-like
/// files as read-only text (their first MiB, decoded as UTF-8 with replacement characters),
/// anything else as the file's type tile with its name, kind and size. Smaller in the
/// quick-look panel.
class QuickLookViewer : public QWidget {
    Q_OBJECT
public:
    /// The most of a text file that is shown.
    static constexpr qint64 textLimit = 1 << 20;

    QuickLookViewer(const QUrl& url, const FileItem& item, bool compact, QWidget* parent = nullptr);

    /// True when the file shows as text.
    bool showsText() const { return text_ != nullptr; }
    QPlainTextEdit* textView() const { return text_; }
    /// Whether a file of that name and content shows as text: a text type, or no known type
    /// and no NUL byte in its first bytes.
    static bool isTextLike(const QString& path);

private:
    QPlainTextEdit* text_ = nullptr;
};

} // namespace tw
