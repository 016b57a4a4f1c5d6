#pragma once

#include <QString>

class QLabel;
class QMessageBox;
class QWidget;

namespace tw {

/// How names and service texts reach the screen as themselves. Qt reads markup in labels,
/// message boxes and tool tips that look like rich text, a mnemonic in every "&" of a button,
/// action or menu title, and a placeholder in "[*]" of a window title: an alias "<b>Bold</b>",
/// a folder "R&D" or a file "draft[*]" must show exactly so. Every text built from data goes
/// through the helper for the place it is shown in.
namespace DisplayText {

/// A label that shows text as it is (plain text).
QLabel* label(const QString& text, QWidget* parent);
/// Shows text in a label as it is.
void setLabelText(QLabel* label, const QString& text);
/// A message box's title line and informative text, both shown as they are. Qt offers no
/// text format for the informative text and takes it for markup when it looks like markup,
/// so it goes in as escaped rich text.
void setMessage(QMessageBox* box, const QString& text, const QString& informativeText);
/// A tool tip that Qt shows as text: unchanged where Qt would show it as plain text, escaped
/// rich text where Qt would take it for markup.
QString toolTip(const QString& text);
/// The text of a button, an action, a menu or a menu entry: every "&" doubled, so none turns
/// into a keyboard mnemonic, and tabs as spaces, so no part is taken for a shortcut.
QString buttonText(const QString& text);
/// A window title: Qt's "[*]" placeholder doubled, so it shows as written.
QString windowTitle(const QString& text);

} // namespace DisplayText

} // namespace tw
