#pragma once

#include "StorageCore/Domain/StorageAccount.h"

#include <QWidget>

namespace tw {

/// An account's round avatar in its service's colour with "G" (Google Drive) or "T"
/// (Telegram), size pixels across, and the account's palette colour as a badge at its
/// bottom-right corner, so two accounts of one service tell apart. The badge sticks out of the
/// avatar's square by a twelfth of the size; the widget makes room for it.
class AccountIcon : public QWidget {
    Q_OBJECT
public:
    AccountIcon(const StorageAccount& account, int size, QWidget* parent = nullptr);
    void setAccount(const StorageAccount& account);
    /// "Google Drive" or "Telegram".
    static QString accessibleNameFor(ProviderKind provider);
    /// Draws the avatar in `rect` and its badge over its corner (partly outside `rect`); the
    /// badge's ring is the window colour of the application palette.
    static void paint(QPainter* painter, const QRect& rect, const StorageAccount& account);
    /// Where the badge of an avatar in `rect` is drawn.
    static QRectF badgeRect(const QRectF& rect);
    /// The avatar's rectangle for a square that must hold its badge too (a pixmap, a cell).
    static QRect avatarRect(const QRect& square);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    StorageAccount account_;
    int size_;
};

/// A filled circle in the account's palette colour (decoration: hidden from assistive
/// technologies).
namespace AccountDot {
void paint(QPainter* painter, const QRect& rect, const StorageAccount& account);
}

} // namespace tw
