// The folder table's rows look exactly as the style paints an item view's items: the same
// pixels as a plain styled delegate with the table's options (no focus frame, names cut in
// the middle, the other columns at the end), in a light and a dark palette, with selected and
// alternating rows, icons, right-aligned sizes, secondary columns in the placeholder colour,
// texts cut at several widths, in an active and an inactive window, painted again, and in
// another font.
#include "App/Browser/FolderTableModel.h"
#include "App/Browser/FolderTableView.h"
#include "App/DesignSystem/FileTypeIcon.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTest>

#include <gtest/gtest.h>

using namespace tw;

namespace {

/// The styled delegate with the folder table's options, painted by the style alone.
class StyleReference : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->state &= ~QStyle::State_HasFocus;
        if (index.column() > 0)
            option->textElideMode = Qt::ElideRight;
    }
};

QPalette darkPalette() {
    QPalette dark;
    const QColor text(0xe8, 0xe8, 0xea);
    dark.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2d));
    dark.setColor(QPalette::WindowText, text);
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x20));
    dark.setColor(QPalette::AlternateBase, QColor(0x26, 0x26, 0x28));
    dark.setColor(QPalette::PlaceholderText, QColor(0x9a, 0x9a, 0xa0));
    dark.setColor(QPalette::Text, text);
    dark.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3c));
    dark.setColor(QPalette::ButtonText, text);
    dark.setColor(QPalette::Highlight, QColor(0x2f, 0x6f, 0xd0));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    // An inactive window's selection in colours of its own.
    dark.setColor(QPalette::Inactive, QPalette::Highlight, QColor(0x44, 0x48, 0x50));
    dark.setColor(QPalette::Inactive, QPalette::HighlightedText, QColor(0xd0, 0xd0, 0xd0));
    return dark;
}

/// Rows as the folder table model gives them: name with its icon, date, size on the right,
/// kind; the columns after the name in the placeholder colour.
void fill(QStandardItemModel& model) {
    struct Row {
        const char* name;
        FileKind kind;
        const char* extension;
        const char* modified;
        const char* size;
        const char* kindText;
    };
    const Row rows[] = {
        {"Projects", FileKind::folder, "", "May 1, 2024 at 12:02 PM", "--", "Folder"},
        {"archive of the whole year 2023 with every receipt.zip", FileKind::archive, "zip",
         "May 1, 2024 at 12:07 PM", "69 KB", "Zip archive"},
        {"harbour.png", FileKind::image, "png", "Sep 28, 2026 at 12:59 PM", "1023.9 MB",
         "PNG image"},
        {"report.pdf", FileKind::pdf, "pdf", "May 1, 2024 at 12:05 PM", "10 KB",
         "PDF document"},
        {"Quarterly results presented to the board of directors.pptx", FileKind::presentation,
         "pptx", "Jan 9, 2025 at 9:41 AM", "2.4 MB", "PowerPoint 2007 presentation"},
        {"tone.wav", FileKind::audio, "wav", "May 1, 2024 at 12:08 PM", "90 KB", "WAV audio"},
        {"notes", FileKind::other, "", "May 1, 2024 at 12:09 PM", "0 bytes", "Document"},
        {"résumé – 履歴書.docx", FileKind::document, "docx", "Feb 29, 2024 at 11:59 PM",
         "12 KB", "Word 2007 document"},
    };
    model.setColumnCount(FolderTableModel::columnCount_);
    for (const Row& row : rows) {
        QList<QStandardItem*> cells;
        auto* name = new QStandardItem(QString::fromUtf8(row.name));
        name->setIcon(FileIcons::tile(row.kind, QString::fromLatin1(row.extension)));
        cells.append(name);
        for (const char* text : {row.modified, row.size, row.kindText}) {
            auto* cell = new QStandardItem(QString::fromUtf8(text));
            cell->setForeground(QApplication::palette().brush(QPalette::PlaceholderText));
            cells.append(cell);
        }
        for (QStandardItem* cell : cells)
            cell->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        cells[FolderTableModel::sizeColumn]->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        model.appendRow(cells);
    }
}

QImage rendered(FolderTableView& table) {
    table.viewport()->update();
    return table.viewport()->grab().toImage();
}

/// Where two images differ first, for the failure message.
std::string firstDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return "sizes differ";
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                return QStringLiteral("(%1, %2): %3 instead of %4")
                    .arg(x)
                    .arg(y)
                    .arg(QColor(a.pixel(x, y)).name(), QColor(b.pixel(x, y)).name())
                    .toStdString();
    return "none";
}

struct PaletteCase {
    const char* name;
    bool dark;
};

class FolderRowPaintTest : public ::testing::TestWithParam<PaletteCase> {
protected:
    void SetUp() override {
        saved_ = QApplication::palette();
        if (GetParam().dark)
            QApplication::setPalette(darkPalette());
    }
    void TearDown() override { QApplication::setPalette(saved_); }

private:
    QPalette saved_;
};

TEST_P(FolderRowPaintTest, RowsLookAsTheStylePaintsThem) {
    QStandardItemModel model;
    fill(model);
    FolderTableView table;
    table.setModel(&model);
    auto* reference = new StyleReference(&table);
    QAbstractItemDelegate* own = table.itemDelegate();
    // Selected rows, one of them with the current index (no focus frame may show).
    table.selectionModel()->setCurrentIndex(model.index(2, 0), QItemSelectionModel::NoUpdate);
    for (int row : {1, 2, 4})
        table.selectionModel()->select(model.index(row, 0), QItemSelectionModel::Select |
                                                                QItemSelectionModel::Rows);
    table.show();
    QWidget other;
    other.show();

    // Wide columns (texts whole), then narrower ones (names cut in the middle, other columns
    // at the end), then narrow ones again, so that kept texts must follow the width.
    const std::array<std::array<int, 4>, 3> widths{{
        {520, 190, 90, 220},
        {150, 110, 60, 90},
        {210, 70, 44, 70},
    }};
    auto expectSameAsReference = [&] {
        table.setItemDelegate(reference);
        const QImage expected = rendered(table);
        table.setItemDelegate(own);
        const QImage painted = rendered(table);
        EXPECT_EQ(painted, expected) << "first difference " << firstDifference(painted, expected);
    };
    for (bool active : {true, false}) {
        QWidget* window = active ? static_cast<QWidget*>(&table) : &other;
        window->activateWindow();
        QApplication::setActiveWindow(window);
        ASSERT_TRUE(QTest::qWaitForWindowActive(window));
        for (size_t step = 0; step < widths.size() * 2; ++step) {
            const std::array<int, 4>& columns = widths[step % widths.size()];
            SCOPED_TRACE(::testing::Message() << (active ? "active" : "inactive") << ", widths "
                                              << columns[0] << ", pass " << step);
            table.resize(columns[0] + columns[1] + columns[2] + columns[3] + 40, 260);
            for (int column = 0; column < 4; ++column)
                table.horizontalHeader()->resizeSection(column, columns[size_t(column)]);
            expectSameAsReference();
        }
    }
    // Another font: the texts are laid out anew.
    QFont bold = table.font();
    bold.setBold(true);
    table.setFont(bold);
    SCOPED_TRACE("bold");
    expectSameAsReference();
}

INSTANTIATE_TEST_SUITE_P(Palettes, FolderRowPaintTest,
                         ::testing::Values(PaletteCase{"light", false}, PaletteCase{"dark", true}),
                         [](const ::testing::TestParamInfo<PaletteCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
