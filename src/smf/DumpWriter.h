#pragma once
// Saving the message store back as a dump file (.syx): the stored messages, each from its F0
// through its F7, one after another in store order, with nothing before, between or after
// them, so that loading the file gives the same store. It goes through the same file output as
// the Standard MIDI File and fails the same way. No Qt; one thread at a time.

#include <cstdint>
#include <string>

#include "common/FileOutput.h"
#include "smf/SmfWriter.h"

namespace smf {

// Writes the messages into a newly created file (std::invalid_argument for a negative count).
// Throws what the file throws.
void WriteDump(kelvane::OutputFile& file, const sysex::MessageList& messages);

// Creates or replaces the file (no question asked) and saves every message of the global store,
// then closes it. Throws EInOutError as ExportStore does, and treats FIFOs and devices as it does.
void ExportStoreAsDump(const std::string& pathUtf8,
                       kelvane::SpecialTargets special = kelvane::SpecialTargets::WriteThrough);

}  // namespace smf
