// The entry of libkelvanor-pdf.so (and of programs that link the PDF viewer's code directly).
#include "App/Modules/ViewerModules.h"
#include "App/Preview/PDFController.h"
#include "App/Preview/PDFViewer.h"

namespace tw {
namespace {

class QtPDFModule final : public PDFModule {
public:
    PDFControls* createControls(QObject* parent) override { return new PDFController(parent); }
    QWidget* createViewer(const QUrl& url, PDFControls* controls, bool compact,
                          QWidget* parent) override {
        return new PDFViewer(url, qobject_cast<PDFController*>(controls), compact, parent);
    }
};

} // namespace
} // namespace tw

extern "C" __attribute__((visibility("default"))) tw::PDFModule* tw_pdf_module() {
    static tw::QtPDFModule module;
    return &module;
}
