#include "App/Model/AppModel.h"
#include "App/Preview/QuickLook.h"
#include "App/Shell/MainWindow.h"

#include <QApplication>

namespace {

class NoQuickLook final : public tw::QuickLook {
public:
    bool isPanelVisible() const override { return false; }
    void show(const tw::FileItem&, tw::AppModel&, OpenFull) override {}
    void follow(const std::optional<tw::FileItem>&, tw::AppModel&, OpenFull) override {}
    void close() override {}
};

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvanor"));
    QApplication::setOrganizationDomain(QStringLiteral("tessarow.org"));
    QApplication::setDesktopFileName(QStringLiteral("org.tessarow.Kelvanor"));

    auto model = tw::AppModel::live();
    NoQuickLook quickLook;
    tw::MainWindow window(*model, quickLook, [](const tw::PreviewTarget&) {});
    window.show();
    return app.exec();
}
