// The archive viewer over archives served by the fake back end through the real loader:
// summary, rows, when "Extract…" is offered, the name proposed for hostile members, and
// extraction to the chosen file with its failures going through the model's error report.
#include "App/Preview/ArchiveViewer.h"
#include "App/DesignSystem/Format.h"
#include "App/Preview/PreviewSupport.h"
#include "StorageCore/Accounts/AccountManager.h"
#include "tests/App/Preview/PreviewFixtures.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QTableView>

using namespace tw;
using namespace tw::test;
using Op = FakeStorageProvider::Op;

namespace {

class ArchiveViewerTest : public PreviewFixture {
protected:
    void SetUp() override {
        PreviewFixture::SetUp();
        ASSERT_TRUE(out.isValid());
        build();
        ArchiveViewer::setSaveChooser(
            [this](QWidget*, const QString& proposed, std::function<void(const QUrl&)> done) {
                proposals.append(proposed);
                if (answer)
                    done(*answer);
            });
    }
    void TearDown() override { ArchiveViewer::setSaveChooser({}); }

    /// The viewer of an archive made of the members, loaded through the model's loader.
    std::unique_ptr<ArchiveViewer> viewerOf(const QList<ZipMember>& members, bool compact = false) {
        const QByteArray zip = makeZip(members);
        archive = addFile(QStringLiteral("bundle.zip"), QStringLiteral("application/zip"), zip);
        PreviewLoader* loader = readyLoader(archive);
        EXPECT_TRUE(loader->phase().isReady());
        if (!loader->phase().isReady())
            return nullptr;
        auto viewer = std::make_unique<ArchiveViewer>(
            *model, archive, *loader->phase().content()->archiveListing(), loader, compact);
        viewer->resize(700, 400);
        viewer->show();
        return viewer;
    }
    static void select(ArchiveViewer& viewer, const QList<int>& rows) {
        viewer.table()->clearSelection();
        for (int row : rows)
            viewer.table()->selectionModel()->select(viewer.table()->model()->index(row, 0),
                                                     QItemSelectionModel::Select |
                                                         QItemSelectionModel::Rows);
    }
    static QString cell(ArchiveViewer& viewer, int row, int column) {
        return viewer.table()->model()->index(row, column).data().toString();
    }
    QByteArray extracted(const QString& name) {
        QFile file(out.filePath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir out;
    FileItem archive;
    QStringList proposals;
    std::optional<QUrl> answer;
};

TEST_F(ArchiveViewerTest, ShowsASummaryAndOneRowPerMember) {
    auto viewer = viewerOf({{"docs/", ""},
                            {"docs/report.pdf", "%PDF-1.4 report"},
                            {"undated.txt", "x", 0, false, false}});
    ASSERT_TRUE(viewer);
    QAbstractItemModelTester tester(viewer->table()->model(),
                                    QAbstractItemModelTester::FailureReportingMode::Fatal);
    EXPECT_EQ(viewer->findChild<QLabel*>(QStringLiteral("archiveSummary"))->text(),
              QStringLiteral("ZIP archive \u00b7 2 files"));
    EXPECT_TRUE(viewer->findChild<QLabel*>(QStringLiteral("archiveSizes"))
                    ->text()
                    .endsWith(QStringLiteral(" expanded")));
    ASSERT_EQ(viewer->table()->model()->rowCount(), 3);
    EXPECT_EQ(cell(*viewer, 0, ArchiveTableModel::name), QStringLiteral("docs/"));
    EXPECT_EQ(cell(*viewer, 0, ArchiveTableModel::size), QStringLiteral("--"));
    EXPECT_EQ(cell(*viewer, 1, ArchiveTableModel::name), QStringLiteral("docs/report.pdf"));
    EXPECT_EQ(cell(*viewer, 1, ArchiveTableModel::size), Format::byteCount(15));
    EXPECT_EQ(cell(*viewer, 2, ArchiveTableModel::modified), QStringLiteral("--"));
    EXPECT_EQ(viewer->table()->model()->headerData(2, Qt::Horizontal).toString(),
              QStringLiteral("Date Modified"));

    ZipEntry one;
    one.path = QStringLiteral("a.txt");
    ZipEntry folder;
    folder.path = QStringLiteral("f/");
    EXPECT_EQ(ArchiveViewer::summary(ArchiveListing{{one, folder}, 10}),
              QStringLiteral("ZIP archive \u00b7 1 file"));
    EXPECT_EQ(ArchiveViewer::summary(ArchiveListing{{folder}, 10}),
              QStringLiteral("ZIP archive \u00b7 0 files"));
}

TEST_F(ArchiveViewerTest, ExtractIsOfferedOnlyForOneExtractableMember) {
    auto viewer = viewerOf({{"plain.txt", "stored"},
                            {"secret.txt", "xxxx", 0, true},
                            {"odd.bin", "yyyy", 12},
                            {"folder/", ""},
                            {"more.txt", "more"}});
    ASSERT_TRUE(viewer);
    QPushButton* extract = viewer->extractButton();
    ASSERT_NE(extract, nullptr);
    struct Case {
        QList<int> rows;
        bool enabled;
    };
    const QList<Case> cases{{{}, false},  {{0}, true},     {{1}, false}, {{2}, false},
                            {{3}, false}, {{0, 4}, false}, {{4}, true}};
    for (const Case& c : cases) {
        select(*viewer, c.rows);
        EXPECT_EQ(extract->isEnabled(), c.enabled)
            << c.rows.size() << " rows from " << c.rows.value(0);
    }
    // A member that cannot be extracted is never attempted: no save panel.
    select(*viewer, {1});
    viewer->extractSelected();
    EXPECT_TRUE(proposals.isEmpty());
}

TEST_F(ArchiveViewerTest, ThePanelHasNoButtonButTheMenuStillExtracts) {
    auto viewer = viewerOf({{"a.txt", "alpha"}, {"b.txt", "beta"}}, true);
    ASSERT_TRUE(viewer);
    EXPECT_EQ(viewer->extractButton(), nullptr);
    EXPECT_TRUE(viewer->contextActions({0, 1}).isEmpty()) << "several members: an empty menu";
    answer = QUrl::fromLocalFile(out.filePath(QStringLiteral("b.txt")));
    const QList<QAction*> actions = viewer->contextActions({1});
    ASSERT_EQ(actions.size(), 1);
    EXPECT_EQ(actions.first()->text(), QStringLiteral("Extract\u2026"));
    QSignalSpy done(viewer.get(), &ArchiveViewer::extractionFinished);
    actions.first()->trigger();
    ASSERT_TRUE(done.wait(5000));
    EXPECT_TRUE(done.first().first().toBool());
    EXPECT_EQ(viewer->selectedEntry()->path, QStringLiteral("b.txt"));
    EXPECT_EQ(extracted(QStringLiteral("b.txt")), QByteArray("beta"));
}

TEST_F(ArchiveViewerTest, TheProposedNameIsTheMembersOwnNameAndNothingElse) {
    struct Case {
        QString path;
        QString proposed;
    };
    const QList<Case> cases{
        {QStringLiteral("docs/report.pdf"), QStringLiteral("report.pdf")},
        {QStringLiteral("../../etc/passwd"), QStringLiteral("passwd")},
        {QStringLiteral("dir\\sub\\evil.txt"), QStringLiteral("evil.txt")},
        {QStringLiteral("/absolute/name.txt"), QStringLiteral("name.txt")},
        {QStringLiteral(".."), QStringLiteral("Untitled")},
        {QStringLiteral("a/.."), QStringLiteral("Untitled")},
        {QStringLiteral("."), QStringLiteral("Untitled")},
        {QString(), QStringLiteral("Untitled")},
        {QStringLiteral("bad\u0001na\nme\u202e.txt"), QStringLiteral("badname.txt")},
        {QStringLiteral("  spaced.txt "), QStringLiteral("spaced.txt")},
        {QStringLiteral(".hidden"), QStringLiteral(".hidden")},
    };
    for (const Case& c : cases) {
        ZipEntry entry;
        entry.path = c.path;
        EXPECT_EQ(ArchiveViewer::proposedName(entry), c.proposed) << c.path.toStdString();
    }
}

TEST_F(ArchiveViewerTest, AHostileMemberIsSavedWhereTheUserSaysUnderItsCleanName) {
    auto viewer = viewerOf(
        {{"../../outside/evil\x07.txt", "payload"}, {"same.txt", "first"}, {"same.txt", "second"}});
    ASSERT_TRUE(viewer);
    answer = QUrl::fromLocalFile(out.filePath(QStringLiteral("chosen.txt")));
    select(*viewer, {0});
    QSignalSpy done(viewer.get(), &ArchiveViewer::extractionFinished);
    viewer->extractButton()->click();
    ASSERT_TRUE(done.wait(5000));
    EXPECT_EQ(proposals, QStringList{QStringLiteral("evil.txt")});
    EXPECT_EQ(extracted(QStringLiteral("chosen.txt")), QByteArray("payload"));
    EXPECT_FALSE(QFile::exists(out.filePath(QStringLiteral("../outside/evil.txt"))));
    EXPECT_FALSE(model->presentedError().has_value());

    // Two members with one path stay apart: the second row gives the second member.
    answer = QUrl::fromLocalFile(out.filePath(QStringLiteral("dup.txt")));
    select(*viewer, {2});
    viewer->extractSelected();
    ASSERT_TRUE(done.wait(5000));
    EXPECT_EQ(extracted(QStringLiteral("dup.txt")), QByteArray("second"));
}

TEST_F(ArchiveViewerTest, FailuresGoThroughTheModelsErrorReport) {
    auto viewer = viewerOf({{"a.txt", "alpha"}});
    ASSERT_TRUE(viewer);
    answer = QUrl::fromLocalFile(out.filePath(QStringLiteral("a.txt")));
    select(*viewer, {0});
    QSignalSpy done(viewer.get(), &ArchiveViewer::extractionFinished);

    // Cancelled: nothing shown.
    drive->failNext(Op::read, StorageError::Code::cancelled);
    viewer->extractSelected();
    ASSERT_TRUE(done.wait(5000));
    EXPECT_FALSE(model->presentedError().has_value());

    // An expired sign-in marks the account and is shown.
    drive->failNext(Op::read, StorageError::Code::reauthRequired);
    viewer->extractSelected();
    ASSERT_TRUE(done.wait(5000));
    ASSERT_TRUE(model->presentedError().has_value());
    EXPECT_EQ(model->presentedError()->error.code(), StorageError::Code::reauthRequired);
    EXPECT_EQ(model->presentedError()->accountID, account.id);
    EXPECT_EQ(model->accounts()->account(account.id)->status,
              StorageAccount::Status::reauthRequired);

    // An answer that is no file name inside a folder is refused aloud; nothing is read.
    model->setPresentedError(std::nullopt);
    const int reads = drive->callCount(Op::read);
    for (const QString& refused : {out.filePath(QStringLiteral("missing-folder/a.txt")),
                                   out.filePath(QStringLiteral("sub/../a.txt")), out.path()}) {
        SCOPED_TRACE(refused.toStdString());
        model->setNotice(std::nullopt);
        answer = QUrl::fromLocalFile(refused);
        viewer->extractSelected();
        ASSERT_TRUE(model->notice().has_value());
        EXPECT_EQ(model->notice()->title, QStringLiteral("The file can't be saved there."));
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(drive->callCount(Op::read), reads);
    EXPECT_FALSE(model->presentedError().has_value());
    EXPECT_FALSE(QFile::exists(out.filePath(QStringLiteral("missing-folder/a.txt"))));

    // A failed write is shown as such, and nothing is left behind (even root cannot make
    // files in /proc).
    answer = QUrl::fromLocalFile(QStringLiteral("/proc/kelvanor-extracted.txt"));
    viewer->extractSelected();
    ASSERT_TRUE(done.wait(5000));
    ASSERT_TRUE(model->presentedError().has_value());
    EXPECT_EQ(model->presentedError()->error.code(), StorageError::Code::localWriteFailed);
    EXPECT_FALSE(QFile::exists(QStringLiteral("/proc/kelvanor-extracted.txt")));
}

} // namespace
