#pragma once

#include "StorageCore/Domain/StorageError.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <exception>
#include <optional>
#include <string>

namespace tw {

/// One JSON object exchanged with TDLib. Accessors are total: a missing key or a value of the
/// wrong JSON type gives nullopt, false or an empty list, never an error. TDLib sends 64-bit
/// integers as decimal texts, so integer() reads both forms.
class TDObject {
public:
    TDObject() = default;
    explicit TDObject(QJsonObject fields) : fields_(std::move(fields)) {}
    /// The fields with "@type" set to type (replacing any "@type" among them).
    TDObject(const QString& type, QJsonObject fields);

    /// Parses a JSON document; nullopt when it is not JSON or its top level is not an object.
    static std::optional<TDObject> fromJson(const QByteArray& json);
    /// The fields as compact JSON.
    QByteArray jsonData() const;

    const QJsonObject& fields() const { return fields_; }
    QJsonValue value(const QString& key) const { return fields_.value(key); }
    bool contains(const QString& key) const { return fields_.contains(key); }
    void set(const QString& key, const QJsonValue& value) { fields_.insert(key, value); }

    /// The "@type" text, or empty.
    QString type() const;
    bool isError() const { return type() == QLatin1String("error"); }

    std::optional<QString> string(const QString& key) const;
    std::optional<qint64> integer(const QString& key) const;
    /// JSON true or false; false for anything else.
    bool boolean(const QString& key) const;
    std::optional<TDObject> object(const QString& key) const;
    /// Empty unless the value is an array whose every element is an object.
    QList<TDObject> objects(const QString& key) const;
    /// Elements read like integer(); unreadable elements are skipped.
    QList<qint64> integers(const QString& key) const;
    /// Standard Base64 text decoded strictly.
    std::optional<QByteArray> bytes(const QString& key) const;
    /// A copy with "@extra" set to tag.
    TDObject withExtra(const QString& tag) const;

    /// "TDObject(<type>)": the fields never appear in the text form.
    QString description() const;

    /// Reads one JSON value as a signed 64-bit integer (numbers truncated towards zero, true
    /// and false as 1 and 0, decimal texts with an optional sign).
    static std::optional<qint64> readInteger(const QJsonValue& value);
    /// Parses a decimal signed 64-bit integer: an optional "+" or "-" and digits only.
    static std::optional<qint64> parseDecimal(const QString& text);

    bool operator==(const TDObject&) const = default;

private:
    QJsonObject fields_;
};

/// A TDLib error reply, thrown to the caller of a request.
class TDError : public std::exception {
public:
    TDError(int code, QString message)
        : code_(code), message_(std::move(message)), what_("TDLib error " + std::to_string(code)) {}
    /// The error of an "error" reply ("code" 0 and "message" empty when missing).
    static TDError fromObject(const TDObject& object);

    int code() const { return code_; }
    const QString& message() const { return message_; }
    /// The flood-wait delay in seconds of a 429 error whose message says "retry after N".
    std::optional<qint64> retryAfter() const;
    /// The system-wide error this failure stands for.
    StorageError storageError() const;

    const char* what() const noexcept override;
    bool operator==(const TDError& other) const {
        return code_ == other.code_ && message_ == other.message_;
    }

private:
    int code_;
    QString message_;
    // Written once, when made: one error rethrown to many waiters is read concurrently.
    std::string what_;
};

} // namespace tw
