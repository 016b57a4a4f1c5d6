#pragma once

#include "StorageCore/Domain/FileModel.h"

#include <QWidget>

#include <functional>

class QLabel;
class QHBoxLayout;
class QPushButton;

namespace tw {

/// Where a preview is shown: the floating quick-look panel or a full preview window.
enum class PreviewMode { compact, full };

/// A file's type tile (the design system's drawing) at a fixed size.
class FileTypeTile : public QWidget {
    Q_OBJECT
public:
    FileTypeTile(FileKind kind, const QString& fileExtension, int size, QWidget* parent = nullptr);
    FileKind kind() const { return kind_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    FileKind kind_;
    QString extension_;
    int size_;
};

/// The type tile of a listed item: the folder tile for folders.
FileTypeTile* makeTile(const FileItem& item, int size, QWidget* parent = nullptr);

/// What a content area shows when it has nothing to show: a symbol, a title, an optional
/// description and a row of buttons, centred. Texts are plain text.
class UnavailableView : public QWidget {
    Q_OBJECT
public:
    UnavailableView(const QString& symbol, const QString& title, const QString& description = {},
                    QWidget* parent = nullptr);
    /// Adds a button to the row; returns it (objectName is the title without the ellipsis).
    QPushButton* addButton(const QString& title, std::function<void()> action);
    QString title() const;
    QString description() const;

private:
    QLabel* title_;
    QLabel* description_;
    QHBoxLayout* buttons_;
};

/// An object name made of a button's title: letters and digits only ("Try Again" → "TryAgain").
QString objectNameFor(const QString& title);

} // namespace tw
