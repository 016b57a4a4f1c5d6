#pragma once

#include <QByteArray>
#include <QString>

namespace tw::test {

/// Builds a ZIP archive in memory (stored or raw-deflated members through zlib, folder entries,
/// a central directory and its end record), so that tests need no archiver process. The result
/// has the layout Info-ZIP's `zip -X` writes: local header and data per member, then the
/// directory, Unix attributes, the UTF-8 flag only on names that need it.
class ZipBuilder {
public:
    enum class Method { stored, deflated };

    /// A folder entry ("name/"); the trailing slash is added when missing.
    ZipBuilder& addFolder(QString path);
    ZipBuilder& addFile(const QString& path, const QByteArray& content,
                        Method method = Method::deflated);

    /// The whole archive.
    QByteArray bytes() const;

private:
    void add(const QString& path, const QByteArray& content, Method method, bool folder);

    QByteArray members_;
    QByteArray directory_;
    quint16 count_ = 0;
};

} // namespace tw::test
