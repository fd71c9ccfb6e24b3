// The web skin module's entry: makes web views for HTML skins.
#include "platform/linux/gtk/web_module.h"
#include "platform/linux/web/web_skin_view.h"

namespace platform::gtkwin {

namespace {

class WebModule final : public webmodule::IModule {
public:
    webmodule::IWebSkin* CreateSkin(webmodule::CommandHandler onCommand, webmodule::IWebSkin* related) override {
        return new WebSkinView(std::move(onCommand), static_cast<WebSkinView*>(related));
    }
};

}  // namespace

}  // namespace platform::gtkwin

extern "C" __attribute__((visibility("default"))) platform::gtkwin::webmodule::IModule* orvo_window_web_module(int nVersion) {
    if (nVersion != platform::gtkwin::webmodule::kVersion) return nullptr;
    static platform::gtkwin::WebModule module;
    return &module;
}
