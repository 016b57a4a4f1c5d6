// What Qt puts on the screen for a text: labels, message boxes and tool tips read markup when
// their format says so (or, in the automatic format, when the text looks like markup);
// buttons, actions and menus take "&" as a mnemonic marker.
#pragma once

#include <QLabel>
#include <QMessageBox>
#include <QTextDocument>

namespace tw::test {

/// The plain text a text in the given format shows.
inline QString shownText(const QString& text, Qt::TextFormat format) {
    const bool rich =
        format == Qt::RichText || (format == Qt::AutoText && Qt::mightBeRichText(text));
    if (!rich)
        return text;
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
}

inline QString shownText(const QLabel* label) {
    return shownText(label->text(), label->textFormat());
}

/// A message box's informative text as shown by the label that holds it (Qt makes that label
/// in the automatic format).
inline QString shownInformativeText(const QMessageBox* box) {
    for (const QLabel* label : box->findChildren<QLabel*>()) {
        if (label != nullptr && label->text() == box->informativeText() && label->pixmap().isNull())
            return shownText(label);
    }
    return shownText(box->informativeText(), Qt::AutoText);
}

/// A tool tip as shown (QToolTip shows it in the automatic format).
inline QString shownToolTip(const QString& toolTip) {
    return shownText(toolTip, Qt::AutoText);
}

/// A button's, action's or menu's text as shown: a lone "&" marks a mnemonic and is not drawn,
/// "&&" draws one "&".
inline QString shownButtonText(const QString& text) {
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('&') && i + 1 < text.size())
            ++i;
        shown.append(text.at(i));
    }
    return shown;
}

} // namespace tw::test
