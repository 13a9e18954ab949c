#pragma once
// What the ALSA sequencer output and input share: one check for every libasound call, and
// libasound kept quiet (the program reports failures itself).

namespace midi {

// Returns `result` when it is not negative; otherwise throws BackendFailure naming `operation`
// with libasound's text for the error.
int CheckAlsa(int result, const char* operation);

// libasound prints its complaints to stderr unless told otherwise. Once per process.
void SilenceAlsaLib();

}  // namespace midi
