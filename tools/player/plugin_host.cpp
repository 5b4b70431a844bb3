#include "tools/player/plugin_host.h"

#include <string>

namespace player {

namespace {
typedef PluginRecord* (*GetPluginFunction)();
}

void PluginHost::load(const std::wstring& path, HWND mainWindow, std::string& status) {
    module_ = LoadLibraryW(path.c_str());
    if (!module_) {
        status = "load-failed " + std::to_string(GetLastError());
        return;
    }
    auto getPlugin = reinterpret_cast<GetPluginFunction>(
        reinterpret_cast<void*>(GetProcAddress(module_, "winampGetGeneralPurposePlugin")));
    PluginRecord* record = getPlugin ? getPlugin() : nullptr;
    if (!record || !record->init) {
        status = getPlugin ? "no-record" : "no-export";
        unload();
        return;
    }
    // The host fills its two fields just before init, never earlier.
    record->hwndParent = mainWindow;
    record->hDllInstance = module_;
    int result = record->init();
    status = "init=" + std::to_string(result);
    if (result != 0) {
        unload();
        return;
    }
    record_ = record;
}

void PluginHost::config() {
    if (running() && record_->config) record_->config();
}

void PluginHost::quit() {
    if (!running()) return;
    quitCalled_ = true;
    if (record_->quit) record_->quit();
}

void PluginHost::unload() {
    if (!module_) return;
    FreeLibrary(module_);
    module_ = nullptr;
    record_ = nullptr;  // it lived inside the library
}

}  // namespace player
