#include "App/Modules/ViewerModules.h"

#include "App/Modules/ModuleLoader.h"
#include "App/Preview/PDFControls.h"
#include "StorageCore/Concurrency/TaskRunner.h"

// Each module's entry. A program that links a module's code (the tests) defines it; in the
// executable it stays undefined (null) and the module is loaded instead.
extern "C" {
tw::PDFModule* tw_pdf_module() __attribute__((weak));
tw::MediaModule* tw_media_module() __attribute__((weak));
}

namespace tw {

namespace {

template <typename Module>
Module* resolve(Module* (*linked)(), const char* fileName, const char* entryName) {
    if (linked)
        return linked();
    using Entry = Module* (*)();
    auto entry = reinterpret_cast<Entry>(ModuleLoader::entry(fileName, entryName));
    return entry ? entry() : nullptr;
}

} // namespace

PDFModule* ViewerModules::pdf() {
    static PDFModule* const module = resolve(tw_pdf_module, "libkelvanor-pdf.so", "tw_pdf_module");
    return module;
}

MediaModule* ViewerModules::media() {
    static MediaModule* const module =
        resolve(tw_media_module, "libkelvanor-media.so", "tw_media_module");
    return module;
}

void ViewerModules::prepareMediaInBackground(QObject* receiver) {
    if (tw_media_module) { // linked into the program: nothing to load
        tw_media_module()->prepareBackEnd();
        return;
    }
    runTask(
        receiver,
        [] {
            // dlopen is safe off the GUI thread; the module's entry is resolved again below on
            // the main thread, where it is then already loaded.
            return ModuleLoader::entry("libkelvanor-media.so", "tw_media_module") != nullptr;
        },
        [](TaskResult<bool> loaded) {
            if (!loaded.ok() || !loaded.value())
                return;
            if (MediaModule* module = media())
                module->prepareBackEnd();
        });
}

PDFControls* ViewerModules::createPDFControls(QObject* parent) {
    if (PDFModule* module = pdf())
        return module->createControls(parent);
    return new PDFControls(parent);
}

} // namespace tw
