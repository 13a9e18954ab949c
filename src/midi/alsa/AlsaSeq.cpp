#include "midi/alsa/AlsaSeq.h"

#include <alsa/asoundlib.h>

#include <mutex>

#include "midi/BackendFailure.h"

namespace midi {

namespace {
void SilentErrorHandler(const char*, int, const char*, int, const char*, ...) {}
}  // namespace

int CheckAlsa(int result, const char* operation) {
    if (result < 0) throw BackendFailure("ALSA", operation, snd_strerror(result), result);
    return result;
}

void SilenceAlsaLib() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(SilentErrorHandler); });
}

}  // namespace midi
