#include "CSoundModule.h"

#include "ProgramDir.h"
#include "SoundModule.h"

#include <dlfcn.h>

#include <utility>

namespace cli {

CSoundModule::CSoundModule(std::string path) : m_path(std::move(path)) {}

// The player's code lives in the module, which is never unloaded, so it can still be destroyed.
CSoundModule::~CSoundModule() = default;

std::string CSoundModule::BesideProgram() {
    // None when this program cannot find itself (no /proc): a bare name would be looked for in
    // the library path, where an empty entry is the current directory.
    const std::string dir = ProgramDir();
    return dir.empty() ? std::string() : dir + PULSEWICK_SOUND_MODULE_NAME;
}

std::string CSoundModule::Load() {
    if (m_api)
        return {};
    if (m_path.empty())
        return kNoProgramDir;
    // Local: the module's symbols (and the Qt Multimedia it brings) serve it alone.
    void* handle = ::dlopen(m_path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        return why ? why : m_path + ": cannot be loaded";
    }
    const auto entry = reinterpret_cast<soundmodule::EntryPoint>(::dlsym(handle, soundmodule::kEntryPoint));
    const soundmodule::Api* api = entry ? entry() : nullptr;
    if (!api || api->version != soundmodule::kVersion) {
        ::dlclose(handle); // none of its code has run beyond the entry point
        return m_path + (api ? ": made for another version of the program" : ": not a sound module");
    }
    std::unique_ptr<ISoundPlayer> player(api->createPlayer());
    m_api = api;
    m_player = std::move(player);
    return {};
}

bool CSoundModule::HasAudioOutput() const {
    return m_api->hasAudioOutput();
}

} // namespace cli
