#pragma once

#include "StorageCore/Domain/StorageAccount.h"

#include <QWidget>

namespace tw {

/// An account's round avatar in its service's colour with "G" (Google Drive) or "T"
/// (Telegram), size pixels across.
class AccountIcon : public QWidget {
    Q_OBJECT
public:
    AccountIcon(const StorageAccount& account, int size, QWidget* parent = nullptr);
    void setAccount(const StorageAccount& account);
    static void paint(QPainter* painter, const QRect& rect, const StorageAccount& account);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    StorageAccount account_;
};

/// A filled circle in the account's palette colour (decoration: hidden from assistive
/// technologies).
namespace AccountDot {
void paint(QPainter* painter, const QRect& rect, const StorageAccount& account);
}

} // namespace tw
