#pragma once

// GoogleTest printers for the Qt values our tests compare, so failures show text.
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <ostream>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& value, std::ostream* os) {
    *os << '"' << value.toStdString() << '"';
}
inline void PrintTo(const QByteArray& value, std::ostream* os) {
    *os << "QByteArray(\"" << value.toStdString() << "\")";
}
inline void PrintTo(const QUuid& value, std::ostream* os) {
    *os << value.toString(QUuid::WithoutBraces).toStdString();
}
inline void PrintTo(const QDateTime& value, std::ostream* os) {
    *os << value.toString(Qt::ISODateWithMs).toStdString();
}
inline void PrintTo(const QStringList& value, std::ostream* os) {
    *os << '[' << value.join(QStringLiteral(", ")).toStdString() << ']';
}
QT_END_NAMESPACE
