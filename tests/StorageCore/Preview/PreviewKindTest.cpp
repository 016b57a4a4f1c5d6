// Preview kinds against the system's real type registry (shared-mime-info).
#include "StorageCore/Preview/PreviewKind.h"

#include <QMimeDatabase>

#include <gtest/gtest.h>

using namespace tw;

namespace {

FileItem item(const QString& name, const QString& mime) {
    FileItem i;
    i.ref = {QUuid::createUuid(), QStringLiteral("x")};
    i.name = name;
    i.mimeType = mime;
    return i;
}

} // namespace

TEST(PreviewKindTest, KindsOfFiles) {
    struct Case {
        const char* name;
        const char* mime;
        PreviewKind kind;
    };
    const Case cases[] = {
        // provider-native types: by MIME type alone, whatever the name
        {"Folder.pdf", "application/vnd.google-apps.folder", PreviewKind::unsupported},
        {"Doc", "application/vnd.google-apps.document", PreviewKind::pdf},
        {"Sheet", "application/vnd.google-apps.spreadsheet", PreviewKind::pdf},
        {"Slides", "application/vnd.google-apps.presentation", PreviewKind::pdf},
        {"Drawing", "application/vnd.google-apps.drawing", PreviewKind::pdf},
        {"Form.pdf", "application/vnd.google-apps.form", PreviewKind::unsupported},
        // a declared extension wins over the MIME type
        {"REPORT.PDF", "application/octet-stream", PreviewKind::pdf},
        {"noextension", "application/pdf", PreviewKind::pdf},
        {"x.unknownext", "application/pdf", PreviewKind::pdf},
        {"x.unknownext", "application/x-not-a-type", PreviewKind::unsupported},
        // images that Qt's readers decode here, and one they do not
        {"a.png", "", PreviewKind::image},
        {"a.JPG", "", PreviewKind::image},
        {"a.gif", "", PreviewKind::image},
        {"a.svg", "", PreviewKind::image},
        {"a.psd", "", PreviewKind::unsupported},
        // audio and video the media back end plays
        {"a.mp4", "", PreviewKind::video},
        {"a.mov", "", PreviewKind::video},
        {"a.webm", "", PreviewKind::video},
        {"a.mkv", "", PreviewKind::video},
        {"a.ogv", "", PreviewKind::video},
        {"a.mp3", "", PreviewKind::audio},
        {"a.m4a", "", PreviewKind::audio},
        {"a.ogg", "", PreviewKind::audio},
        {"a.opus", "", PreviewKind::audio},
        {"a.flac", "", PreviewKind::audio},
        {"a.wav", "", PreviewKind::audio},
        {"a.wmv", "", PreviewKind::unsupported}, // not among the playable containers
        // documents: all text, office and rich text
        {"a.txt", "", PreviewKind::document},
        {"a.html", "", PreviewKind::document},
        {"a.csv", "", PreviewKind::document},
        {"a.cpp", "", PreviewKind::document},
        {"a.rtf", "", PreviewKind::document},
        {"a.docx", "", PreviewKind::document}, // inherits application/zip: documents come first
        {"a.xlsx", "", PreviewKind::document},
        {"a.pptx", "", PreviewKind::document},
        {"a.doc", "", PreviewKind::document},
        {"a.odt", "", PreviewKind::document},
        // archives: ZIP and what conforms to it; other archive formats are not listed
        {"a.zip", "", PreviewKind::archive},
        {"a.jar", "", PreviewKind::archive},
        {"noext", "application/zip", PreviewKind::archive},
        {"a.gz", "", PreviewKind::unsupported},
        {"a.tar", "", PreviewKind::unsupported},
        {"a.7z", "", PreviewKind::unsupported},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.mime);
        EXPECT_EQ(PreviewKinds::rawValue(PreviewKinds::of(item(c.name, c.mime))).toStdString(),
                  PreviewKinds::rawValue(c.kind).toStdString());
    }
}

TEST(PreviewKindTest, RawValuesAndLocalCopies) {
    QStringList raws;
    for (PreviewKind kind : PreviewKinds::allCases()) {
        raws.append(PreviewKinds::rawValue(kind));
        EXPECT_EQ(PreviewKinds::fromRawValue(PreviewKinds::rawValue(kind)), kind);
        EXPECT_EQ(PreviewKinds::needsLocalCopy(kind), kind == PreviewKind::pdf ||
                                                          kind == PreviewKind::image ||
                                                          kind == PreviewKind::document);
    }
    EXPECT_EQ(raws, QStringList(
                        {"pdf", "image", "video", "audio", "document", "archive", "unsupported"}));
    EXPECT_FALSE(PreviewKinds::fromRawValue("PDF").has_value());
}

TEST(PreviewKindTest, ContentTypes) {
    EXPECT_EQ(PreviewKinds::contentType("movie.MP4", "text/plain")->name().toStdString(),
              "video/mp4");
    EXPECT_EQ(PreviewKinds::contentType("movie", "video/webm")->name().toStdString(), "video/webm");
    EXPECT_FALSE(PreviewKinds::contentType("x.unknownext", "").has_value());
    EXPECT_FALSE(PreviewKinds::contentType("", "application/octet-stream").has_value());
}

// The file model and the preview kinds read one table of type groups: for a file known by its
// MIME type alone (any name or alias of a registry type) or by its extension alone, the kind
// and the preview kind never disagree.
TEST(PreviewKindTest, FileKindsAndPreviewKindsAgreeOnEveryRegistryType) {
    auto agree = [](FileKind kind, PreviewKind preview) {
        const bool documentKind = kind == FileKind::document || kind == FileKind::spreadsheet ||
                                  kind == FileKind::presentation;
        if ((kind == FileKind::pdf) != (preview == PreviewKind::pdf))
            return false;
        if (documentKind != (preview == PreviewKind::document))
            return false;
        switch (preview) {
        case PreviewKind::image:
            return kind == FileKind::image;
        case PreviewKind::audio:
            return kind == FileKind::audio;
        case PreviewKind::video:
            return kind == FileKind::video;
        case PreviewKind::archive:
            return kind == FileKind::archive || kind == FileKind::other;
        default:
            return true;
        }
    };
    int checked = 0;
    const QMimeDatabase database;
    for (const QMimeType& type : database.allMimeTypes()) {
        if (type.isDefault())
            continue;
        QList<std::pair<QString, QString>> files; // name, MIME type
        for (const QString& name : FileKinds::typeNames(type))
            files.append({QStringLiteral("file"), name});
        for (const QString& suffix : type.suffixes())
            if (database.mimeTypeForFile("file." + suffix, QMimeDatabase::MatchExtension) == type)
                files.append({"file." + suffix, QString()});
        for (const auto& [name, mime] : files) {
            const FileKind kind = FileKinds::classify(mime, name);
            const PreviewKind preview = PreviewKinds::of(item(name, mime));
            EXPECT_TRUE(agree(kind, preview))
                << name.toStdString() << " " << mime.toStdString() << ": "
                << FileKinds::rawValue(kind).toStdString() << " but previews as "
                << PreviewKinds::rawValue(preview).toStdString();
            ++checked;
        }
    }
    EXPECT_GT(checked, 500);
}
