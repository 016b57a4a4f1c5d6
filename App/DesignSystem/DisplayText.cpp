#include "App/DesignSystem/DisplayText.h"

#include <QLabel>
#include <QMessageBox>
#include <QTextDocument>

namespace tw::DisplayText {

QLabel* label(const QString& text, QWidget* parent) {
    auto* label = new QLabel(parent);
    setLabelText(label, text);
    return label;
}

void setLabelText(QLabel* label, const QString& text) {
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
}

void setMessage(QMessageBox* box, const QString& text, const QString& informativeText) {
    box->setTextFormat(Qt::PlainText);
    box->setText(text);
    box->setInformativeText(informativeText.isEmpty()
                                ? QString()
                                : Qt::convertFromPlainText(informativeText, Qt::WhiteSpaceNormal));
}

QString toolTip(const QString& text) {
    // QToolTip decides as QLabel's automatic format does.
    if (!Qt::mightBeRichText(text))
        return text;
    return Qt::convertFromPlainText(text, Qt::WhiteSpaceNormal);
}

QString buttonText(const QString& text) {
    QString shown = text;
    shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
    shown.replace(QLatin1Char('\t'), QLatin1Char(' '));
    return shown;
}

QString windowTitle(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
    return shown;
}

} // namespace tw::DisplayText
