#include "audio/AudioDiagnostics.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <mutex>

namespace {
void quietAlsa(const char*, int, const char*, int, const char*, ...)
{
}
void quietJack(const char*)
{
}
using JackReporterSetter = void (*)(void (*)(const char*));

// libjack is loaded only as a dependency of PortAudio when the distribution built it
// with JACK support, so its functions are looked up rather than linked.
void quietJackIfLoaded()
{
    for (const char* name : { "jack_set_error_function", "jack_set_info_function" }) {
        if (auto set = reinterpret_cast<JackReporterSetter>(dlsym(RTLD_DEFAULT, name)))
            set(quietJack);
    }
}
}

void silenceAudioDiagnostics()
{
    static std::once_flag once;
    std::call_once(once, [] {
        snd_lib_error_set_handler(quietAlsa);
        quietJackIfLoaded();
    });
}
