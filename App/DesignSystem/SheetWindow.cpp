#include "App/DesignSystem/SheetWindow.h"

#include <QDialog>
#include <QEvent>
#include <QLayout>
#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace tw {

namespace {

/// Refits the sheet's height after its layout settled, once per burst of layout requests.
class HeightFitter : public QObject {
public:
    explicit HeightFitter(QDialog& sheet) : QObject(&sheet), sheet_(sheet) {
        timer_.setSingleShot(true);
        timer_.setInterval(0);
        connect(&timer_, &QTimer::timeout, this, [this] { SheetWindow::fitHeight(sheet_); });
        sheet.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &sheet_ &&
            (event->type() == QEvent::LayoutRequest || event->type() == QEvent::Show)) {
            if (event->type() == QEvent::Show)
                SheetWindow::fitHeight(sheet_); // right for the first frame
            timer_.start();
        }
        return false;
    }

private:
    QDialog& sheet_;
    QTimer timer_;
};

} // namespace

void SheetWindow::prepare(QDialog& sheet, int width) {
    sheet.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint);
    sheet.setWindowModality(Qt::WindowModal);
    sheet.setFixedWidth(width);
    new HeightFitter(sheet);
}

void SheetWindow::fitHeight(QDialog& sheet) {
    QLayout* layout = sheet.layout();
    if (!layout)
        return;
    layout->activate();
    const int width = sheet.width();
    int height = layout->hasHeightForWidth() ? layout->totalHeightForWidth(width)
                                             : layout->totalSizeHint().height();
    height = std::max(height, layout->totalMinimumSize().height());
    if (sheet.minimumHeight() != height || sheet.maximumHeight() != height)
        sheet.setFixedHeight(height);
}

} // namespace tw
