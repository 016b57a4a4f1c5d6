// The code the executable loads on first use (the PDF and media viewers, libcurl's HTTP client,
// the keyring's libsecret, GIO),
// loaded the way the executable loads it: this program links the application library the way
// the executable does and none of the modules' code. Built twice:
// - beside the executable and its modules (TW_MODULES_BESIDE=1): none of the libraries is mapped
//   until first use; then the modules load and their code works through the factories;
// - in a folder without modules (TW_MODULES_BESIDE=0): a missing module is a displayed failure
//   (a PDF or a media file "couldn't be displayed", an HTTP request fails), never a crash.
#include "App/DesignSystem/ContentUnavailableView.h"
#include "App/Modules/LazyHTTPClient.h"
#include "App/Modules/ViewerModules.h"
#include "App/Preview/PDFControls.h"
#include "StorageCore/Security/KeychainSecretStore.h"
#include "tests/App/Preview/PreviewFixtures.h"
#include "tests/support/LoopbackHTTPServer.h"

#include <QFile>
#include <QTest>

#include <gtest/gtest.h>

using namespace tw;
using namespace tw::test;

namespace {

/// True when a mapped file of this process has the name fragment in its path.
bool mapped(const QString& fragment) {
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return false;
    return QString::fromLocal8Bit(maps.readAll()).contains(fragment);
}

// (OpenSSL is not among them here: the test support's loopback servers link it.)
const QStringList lazyLibraries = {QStringLiteral("libcurl"), QStringLiteral("libQt6Pdf"),
                                   QStringLiteral("libQt6Multimedia"),
                                   QStringLiteral("libkelvanor-"), QStringLiteral("libsecret"),
                                   QStringLiteral("libgio-2.0")};

class ModuleLoadingTest : public PreviewFixture {
protected:
    void SetUp() override {
        PreviewFixture::SetUp();
        build();
    }
};

#if TW_MODULES_BESIDE

TEST_F(ModuleLoadingTest, LibrariesLoadOnlyWithTheirFirstUse) {
    // Up to here the model and a window's worth of widgets exist; nothing of the modules.
    for (const QString& library : lazyLibraries)
        EXPECT_FALSE(mapped(library)) << library.toStdString();

    // A PDF preview: the viewer comes from libkelvanor-pdf.so and reads the document.
    const FileItem pdf =
        addFile(QStringLiteral("m.pdf"), QStringLiteral("application/pdf"), makePDF(3));
    QObject owner;
    PDFControls* controls = ViewerModules::createPDFControls(&owner);
    PreviewContentView view(*model, sharedReadyLoader(pdf), PreviewMode::full, controls);
    ASSERT_NE(view.currentView(), nullptr);
    EXPECT_EQ(view.currentView()->objectName(), QStringLiteral("pdfViewer"));
    // The document opens on a worker.
    EXPECT_TRUE(QTest::qWaitFor([&] { return controls->pageCount() == 3; }, 5000));
    EXPECT_TRUE(mapped(QStringLiteral("libkelvanor-pdf.so")));
    EXPECT_TRUE(mapped(QStringLiteral("libQt6Pdf")));

    // An audio preview: the player host comes from libkelvanor-media.so.
    const FileItem audio =
        addFile(QStringLiteral("m.wav"), QStringLiteral("audio/wav"), QByteArray(64, '\0'));
    PreviewContentView player(*model, sharedReadyLoader(audio), PreviewMode::compact);
    ASSERT_NE(player.currentView(), nullptr);
    EXPECT_STREQ(player.currentView()->metaObject()->className(), "tw::PlayerHost");
    EXPECT_TRUE(mapped(QStringLiteral("libQt6Multimedia")));

    // An HTTP request: libcurl loads with it, on the requesting thread.
    LoopbackHTTPServer server;
    server.http.Get("/hello", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("hi", "text/plain");
    });
    server.start();
    const std::shared_ptr<HTTPClient> client = LazyHTTPClient::live();
    EXPECT_FALSE(mapped(QStringLiteral("libcurl")));
    HTTPRequest request;
    request.url = QUrl(server.url(QStringLiteral("/hello")));
    const HTTPReply reply = client->send(request);
    EXPECT_EQ(reply.response.statusCode, 200);
    EXPECT_EQ(reply.body, QByteArray("hi"));
    EXPECT_TRUE(mapped(QStringLiteral("libcurl")));

    // A keyring call: libsecret opens with it (no keyring answers here: it fails as one).
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
    KeychainSecretStore keyring(QStringLiteral("org.tessarow.Kelvanor.test"));
    try {
        keyring.load(QStringLiteral("nobody"));
        ADD_FAILURE() << "a keyring answered on a bus that does not exist";
    } catch (const SecretStoreError& error) {
        EXPECT_EQ(error.reason(), SecretStoreError::Reason::unavailable) << error.what();
    }
    EXPECT_TRUE(mapped(QStringLiteral("libsecret")));
}

#else

TEST_F(ModuleLoadingTest, AMissingModuleShowsAsAFailureNotACrash) {
    EXPECT_EQ(ViewerModules::pdf(), nullptr);
    EXPECT_EQ(ViewerModules::media(), nullptr);

    // The window's PDF state without the PDF code: no pages, no search.
    QObject owner;
    PDFControls* controls = ViewerModules::createPDFControls(&owner);
    controls->find(QStringLiteral("x"));
    controls->nextPage();
    EXPECT_EQ(controls->pageCount(), 0);
    EXPECT_FALSE(controls->matchCount().has_value());

    const QString unavailable =
        StorageError(StorageError::Code::previewUnavailable).presentation().title;
    for (const auto& [name, type] :
         {std::pair{QStringLiteral("m.pdf"), QStringLiteral("application/pdf")},
          std::pair{QStringLiteral("m.wav"), QStringLiteral("audio/wav")}}) {
        const FileItem item = addFile(
            name, type, name.endsWith(QStringLiteral("pdf")) ? makePDF(1) : QByteArray(64, '\0'));
        PreviewContentView view(*model, sharedReadyLoader(item), PreviewMode::full, controls);
        auto* shown = qobject_cast<ContentUnavailableView*>(view.currentView());
        ASSERT_NE(shown, nullptr) << name.toStdString();
        EXPECT_EQ(shown->title(), unavailable);
    }

    // Every request fails as a transport failure that names the module.
    const std::shared_ptr<HTTPClient> client = LazyHTTPClient::live();
    HTTPRequest request;
    request.url = QUrl(QStringLiteral("http://127.0.0.1:9/"));
    try {
        client->send(request);
        ADD_FAILURE() << "a request went through without the HTTP module";
    } catch (const HTTPTransportError& error) {
        EXPECT_EQ(error.kind(), HTTPTransportError::Kind::other);
        EXPECT_NE(std::string(error.what()).find("libkelvanor-http.so"), std::string::npos)
            << error.what();
    }
    for (const QString& library : lazyLibraries)
        EXPECT_FALSE(mapped(library)) << library.toStdString();
}

#endif

} // namespace
