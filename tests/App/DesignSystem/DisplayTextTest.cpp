// Names shown through the display-text helpers read exactly as written on the real widgets:
// labels, message boxes, tool tips, buttons, menu entries and window titles.
#include "App/DesignSystem/DisplayText.h"
#include "App/DesignSystem/ElidedLabel.h"
#include "tests/support/ShownText.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <QToolTip>
#include <QWindow>

#include <gtest/gtest.h>

using namespace tw;
using namespace tw::test;

namespace {

/// Names that Qt would otherwise read as markup, entities, mnemonics or a title placeholder.
const QStringList kNames = {
    QStringLiteral("<b>Bold</b>"),
    QStringLiteral("R&D"),
    QStringLiteral("Say \"hi\""),
    QStringLiteral("&amp;"),
    QStringLiteral("Tom & <i>Jerry</i> &lt;3"),
    QStringLiteral("draft[*] & notes"),
    QStringLiteral("Plain name"),
};

/// The label QToolTip shows on the screen, or null.
QLabel* shownToolTipLabel() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* label = qobject_cast<QLabel*>(widget);
            label && label->isVisible() && widget->inherits("QTipLabel"))
            return label;
    }
    return nullptr;
}

} // namespace

TEST(DisplayText, LabelsAndMessageBoxesShowNamesAsWritten) {
    for (const QString& name : kNames) {
        QWidget parent;
        QLabel* label = DisplayText::label(name, &parent);
        EXPECT_EQ(shownText(label), name);
        auto* reused = new QLabel(QStringLiteral("<i>before</i>"), &parent);
        DisplayText::setLabelText(reused, name);
        EXPECT_EQ(shownText(reused), name);

        QMessageBox box;
        DisplayText::setMessage(
            &box, QStringLiteral("Disconnect \u201c") + name + QStringLiteral("\u201d?"),
            name + QStringLiteral("\nsecond line"));
        box.show();
        QStringList shown;
        for (const QLabel* child : box.findChildren<QLabel*>())
            shown.append(shownText(child));
        EXPECT_TRUE(
            shown.contains(QStringLiteral("Disconnect \u201c") + name + QStringLiteral("\u201d?")))
            << shown.join(QStringLiteral(" | ")).toStdString();
        EXPECT_TRUE(shown.contains(name + QStringLiteral("\nsecond line")))
            << shown.join(QStringLiteral(" | ")).toStdString();
        EXPECT_EQ(shownInformativeText(&box), name + QStringLiteral("\nsecond line"));
    }
}

TEST(DisplayText, ToolTipsShowNamesAsWritten) {
    QWidget anchor;
    anchor.resize(200, 100);
    anchor.show();
    for (const QString& name : kNames) {
        const QString tip = DisplayText::toolTip(QStringLiteral("Upload to ") + name);
        QToolTip::showText(anchor.mapToGlobal(QPoint(10, 10)), tip, &anchor);
        QLabel* label = nullptr;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return (label = shownToolTipLabel()) != nullptr && label->text() == tip; },
            5000));
        EXPECT_EQ(shownText(label), QStringLiteral("Upload to ") + name);
    }
    QToolTip::hideText();
    // A label that elides its text offers the whole name as its tool tip.
    ElidedLabel elided(kNames.first(), Qt::ElideRight);
    EXPECT_EQ(shownToolTip(elided.toolTip()), kNames.first());
}

TEST(DisplayText, ButtonsActionsAndMenusShowNamesWithoutMnemonics) {
    for (const QString& name : kNames) {
        const QString title = QStringLiteral("Choose \u201c") + name + QStringLiteral("\u201d");
        QPushButton push(DisplayText::buttonText(title));
        EXPECT_EQ(shownButtonText(push.text()), title);
        EXPECT_TRUE(QKeySequence::mnemonic(push.text()).isEmpty()) << name.toStdString();

        QToolButton tool;
        tool.setText(DisplayText::buttonText(name));
        EXPECT_TRUE(QKeySequence::mnemonic(tool.text()).isEmpty()) << name.toStdString();

        QMenu menu;
        QAction* entry = menu.addAction(DisplayText::buttonText(name + QStringLiteral("\tx")));
        EXPECT_EQ(shownButtonText(entry->text()), name + QStringLiteral(" x"));
        EXPECT_FALSE(entry->text().contains(QLatin1Char('\t'))); // no shortcut column
        QMenu* sub = menu.addMenu(DisplayText::buttonText(name));
        EXPECT_EQ(shownButtonText(sub->title()), name);
    }
}

TEST(DisplayText, WindowTitlesShowNamesAsWritten) {
    for (const QString& name : kNames) {
        QWidget window;
        window.setWindowTitle(DisplayText::windowTitle(name));
        window.show();
        ASSERT_NE(window.windowHandle(), nullptr);
        EXPECT_EQ(window.windowHandle()->title(), name);
    }
}
