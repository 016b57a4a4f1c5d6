// The entry of libkelvanor-media.so (and of programs that link the media viewer's code directly).
#include "App/Modules/ViewerModules.h"
#include "App/Preview/MediaBackEnd.h"
#include "App/Preview/PlayerHost.h"

namespace tw {
namespace {

class QtMediaModule final : public MediaModule {
public:
    void prepareBackEnd() override { MediaBackEnd::prepare(); }
    QWidget* createPlayer(AppModel& model, const FileItem& item, const PreviewContent& content,
                          bool isAudio, bool compact, QWidget* parent) override {
        return new PlayerHost(model, item, content, isAudio, compact, parent);
    }
};

} // namespace
} // namespace tw

extern "C" __attribute__((visibility("default"))) tw::MediaModule* tw_media_module() {
    static tw::QtMediaModule module;
    return &module;
}
