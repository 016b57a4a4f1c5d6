#pragma once

#include <QObject>
#include <QString>

#include <optional>

namespace tw {

/// What a preview window's toolbar and search field ask of the PDF shown: page counters,
/// search, turning and zoom. The PDF code itself is loaded with its viewer module
/// (ViewerModules), so the window holds this interface; the base class does nothing and counts
/// no pages, which is what a window shows when that module cannot be loaded.
class PDFControls : public QObject {
    Q_OBJECT
public:
    explicit PDFControls(QObject* parent = nullptr) : QObject(parent) {}

    virtual int pageIndex() const { return 0; }
    virtual int pageCount() const { return 0; }
    /// Number of matches of the last search; none when no search is active.
    virtual std::optional<int> matchCount() const { return std::nullopt; }
    /// True while pages remain to be searched.
    virtual bool isSearching() const { return false; }

    /// No document: counters 0, no matches (a failed or other preview shows; the toolbar
    /// then offers no PDF controls).
    virtual void reset() {}
    virtual void find(const QString& text) { Q_UNUSED(text); }
    virtual void rotate() {}
    virtual void previousPage() {}
    virtual void nextPage() {}
    virtual void zoomIn() {}
    virtual void zoomOut() {}
    virtual void zoomToFit() {}

Q_SIGNALS:
    /// Any counter or the match list changed.
    void changed();
};

} // namespace tw
