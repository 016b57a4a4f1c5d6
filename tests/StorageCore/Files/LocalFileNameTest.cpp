// Names from elsewhere turned into local file names, and the check of a save panel's answer.
#include "StorageCore/Files/LocalFileName.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace tw;

namespace {

TEST(LocalFileNameTest, HostileRemoteNamesBecomeOneSafeLastComponent) {
    struct Case {
        QString name, proposed;
    };
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80"); // a surrogate pair
    const Case cases[] = {
        {"report.pdf", "report.pdf"},
        {"~/.config/autostart/x.desktop", "x.desktop"},
        {"/etc/x", "x"},
        {"../../x", "x"},
        {"a/b", "b"},
        {"a\\b\\c.txt", "c.txt"},
        {"dir/", "dir"},
        {"a/..", "Untitled"},
        {".", "Untitled"},
        {"..", "Untitled"},
        {"...", "Untitled"},
        {"", "Untitled"},
        {"///", "Untitled"},
        {"~", "_"},
        {"~root", "_root"},
        {"~$budget.xlsx", "_$budget.xlsx"},
        {"not~home.txt", "not~home.txt"},
        {"  spaced.txt ", "spaced.txt"},
        {".hidden", ".hidden"},
        {QStringLiteral("nul") + QChar(0) + QStringLiteral("byte"), "nulbyte"},
        {"tab\tnew\nline\r.txt", "tabnewline.txt"},
        {QStringLiteral("del\u007f c1\u0085.txt"), "del c1.txt"},
        // A right-to-left override would show "evil\u202etxt.exe" as "evilexe.txt".
        {QStringLiteral("evil\u202etxt.exe"), "eviltxt.exe"},
        {QStringLiteral("line\u2028para\u2029.txt"), "linepara.txt"},
        {QStringLiteral("lone") + QChar(0xD800) + QStringLiteral(".txt"), "lone.txt"},
        {emoji + QStringLiteral(".png"), emoji + QStringLiteral(".png")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const QString proposed = LocalFileName::safe(c.name);
        EXPECT_EQ(proposed, c.proposed);
        EXPECT_TRUE(LocalFileName::isPlainName(proposed));
    }
}

TEST(LocalFileNameTest, LongNamesAreCutAt255BytesBetweenCharactersAndKeepASuffixWhole) {
    const QString cjk = QStringLiteral("\u6587"); // 3 bytes of UTF-8
    const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
    struct Case {
        const char* what;
        QString name;
        QString suffix;
        qsizetype bytes;
    };
    const Case cases[] = {
        {"ASCII", QString(300, QLatin1Char('a')), {}, 255},
        {"CJK after one ASCII byte", QStringLiteral("a") + cjk.repeated(200), {}, 253},
        {"emoji", emoji.repeated(100), {}, 252},
        {"ASCII with .pdf", QString(300, QLatin1Char('a')), QStringLiteral(".pdf"), 255},
        {"CJK with .pdf", cjk.repeated(100), QStringLiteral(".pdf"), 3 * 83 + 4},
        {"short with .pdf", QStringLiteral("Notes"), QStringLiteral(".pdf"), 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const QString proposed = LocalFileName::safe(QStringLiteral("folder/") + c.name, c.suffix);
        const QByteArray utf8 = proposed.toUtf8();
        EXPECT_EQ(utf8.size(), c.bytes);
        EXPECT_EQ(QString::fromUtf8(utf8), proposed); // no half character
        EXPECT_TRUE(proposed.endsWith(c.suffix));
        EXPECT_TRUE(c.name.startsWith(proposed.chopped(c.suffix.size())));
        EXPECT_TRUE(LocalFileName::isPlainName(proposed));
    }
    EXPECT_EQ(LocalFileName::safe(QStringLiteral("../.."), QStringLiteral(".pdf")),
              QStringLiteral("Untitled.pdf"));
    EXPECT_FALSE(LocalFileName::isPlainName(QString(256, QLatin1Char('a'))));
}

TEST(LocalFileNameTest, OnlyAFileNameInsideAnExistingFolderIsASaveTarget) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString root = QDir::cleanPath(dir.path());
    ASSERT_TRUE(QDir(root).mkpath(QStringLiteral("sub")));
    {
        QFile existing(root + QStringLiteral("/existing.txt"));
        ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(
        QFile::link(root + QStringLiteral("/existing.txt"), root + QStringLiteral("/link")));
    ASSERT_EQ(::mkfifo(QFile::encodeName(root + QStringLiteral("/fifo")).constData(), 0600), 0);

    struct Case {
        QString path;
        bool accepted;
    };
    const Case cases[] = {
        {root + QStringLiteral("/new.txt"), true},
        {root + QStringLiteral("/existing.txt"), true}, // replaced by a complete copy
        {root + QStringLiteral("/sub/new.txt"), true},
        {root + QStringLiteral("/~root"), true}, // a name the user typed, taken as it is
        {root + QStringLiteral("/sub"), false},  // a folder
        {root + QStringLiteral("/link"), false},
        {root + QStringLiteral("/fifo"), false},
        {root + QStringLiteral("/missing/new.txt"), false},
        {root + QStringLiteral("/sub/../new.txt"), false},
        {root + QStringLiteral("/./new.txt"), false},
        {root + QStringLiteral("/new.txt/"), false},
        {root + QStringLiteral("//new.txt"), false},
        {root + QStringLiteral("/.."), false},
        {root + QStringLiteral("/tab\there.txt"), false},
        {root + QLatin1Char('/') + QString(256, QLatin1Char('a')), false},
        {QStringLiteral("relative.txt"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        const std::optional<QString> target =
            LocalFileName::saveTarget(QUrl::fromLocalFile(c.path));
        EXPECT_EQ(target.has_value(), c.accepted);
        if (target) {
            EXPECT_EQ(*target, c.path);
        }
    }
    EXPECT_FALSE(LocalFileName::saveTarget(QUrl(QStringLiteral("https://example.com/x"))));
    EXPECT_FALSE(LocalFileName::saveTarget(QUrl()));
}

} // namespace
