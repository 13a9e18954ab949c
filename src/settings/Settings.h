#pragma once
// The remembered port: two one-byte settings kept for the current user under the key
// HKEY_CURRENT_USER\ZORVIK as the one-byte REG_BINARY values "KELV_In" and "KELV_Out".
//
// The window reaches all of this through its INIT method (which passes a mode on to MIDI_Reg);
// the start-up step and the port-change save take that entry as a ModeRunner so that they run
// through it too. GUI thread only.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "midi/Pace.h"
#include "settings/RegistryStore.h"

namespace settings {

// The output port index chosen last (0 = "(None)") and the input port index chosen last in the
// receive dialog; a byte nobody has chosen is written back by every save as it was loaded.
// 0 at process start.
extern std::uint8_t InPortSetting;
extern std::uint8_t OutPortSetting;
// The whole name of the input chosen last (UTF-8), however much of it the list shows; empty
// when none has been remembered by name. Port numbers move as devices and clients come and go;
// the name finds the same port again, also among ports whose names differ only at the end.
// Kept beside the byte, which is still written for files that know only it. Files saved by
// earlier versions hold the name cut as the selector showed it (midi::MaxEntryChars
// characters), which still finds the first port it stands for.
extern std::string InPortNameSetting;
// The same for the output chosen last in the main window's selector.
extern std::string OutPortNameSetting;

inline constexpr char SettingsKeyName[] = "ZORVIK";
inline constexpr char InPortValueName[] = "KELV_In";
inline constexpr char OutPortValueName[] = "KELV_Out";
inline constexpr char InPortNameValueName[] = "KELV_InName";  // REG_BINARY, the name's UTF-8 bytes
inline constexpr char OutPortNameValueName[] = "KELV_OutName";  // likewise
// Only whether a regular file of this name exists in the current folder is looked at.
inline constexpr char MarkerFileName[] = "KELVANE.cfg";

// How the send dialog paces a send, remembered beside the port bytes as REG_DWORD values: the
// pause after each message in milliseconds and the speed as a percentage of the MIDI cable's
// rate, 0 for the fastest (midi/Pace.h). Nothing else reads or writes them, so MIDI_Reg
// leaves them alone.
inline constexpr char SendPauseValueName[] = "KELV_SendPause";
inline constexpr char SendSpeedValueName[] = "KELV_SendSpeed";

struct SendPace {
    std::uint32_t pauseMs = midi::DefaultPauseMs;
    std::uint32_t speedPercent = midi::DefaultSpeedPercent;
};

// The remembered pace. A value that is absent, not a REG_DWORD or out of range (pause above
// midi::MaxPauseMs, a speed a send does not take) gives its default: a convenience never
// stops a send.
SendPace LoadSendPace(RegistryStore& store);

// Writes both values; the first failed write throws "'<name>' の設定に失敗しました".
void SaveSendPace(const SendPace& pace, RegistryStore& store);

inline constexpr std::uint8_t SaveMode = 0;
inline constexpr std::uint8_t LoadMode = 1;

// Opens (creates) the key first whatever the mode; whether that worked is not looked at, since
// the value calls that follow fail on their own without a key. Then:
// - SaveMode writes "KELV_In" then "KELV_Out" as one-byte REG_BINARY, then "KELV_InName" and
//   "KELV_OutName" (each only when there is a name, or a stored one to be emptied, so a file that
//   never knew names stays as it was); the first failed write throws kelvane::Failure
//   "'<name>' の設定に失敗しました" (no key open counts as failed).
// - LoadMode reads "KELV_In" then "KELV_Out". An absent value (or no key) leaves its byte as it
//   is. REG_SZ, REG_EXPAND_SZ, REG_DWORD or more than one byte throws "'<name>' のデータ型が不正です";
//   a failed read after a successful inspection throws "'<name>' の取得に失敗しました". A value
//   of no bytes leaves its byte as it is. The first failure ends the load. "KELV_InName" and
//   "KELV_OutName" are read last; one that is absent, empty or not REG_BINARY leaves its name
//   empty.
// - Any other mode does nothing more.
void MIDI_Reg(std::uint8_t mode, RegistryStore& store);

// The window's INIT: runs MIDI_Reg with the given mode.
using ModeRunner = std::function<void(std::uint8_t mode)>;

// The settings step of start-up: both bytes := 0; without the marker file a save (so a port
// remembered earlier is forgotten); then a load. Failures propagate from the runner.
void SettingsStartupStep(const ModeRunner& init);

// After a port change: OutPortSetting := low 8 bits of the port index, the remembered output
// name := `name` (empty for "(None)"), then a save.
void PortChangeSave(int portIndex, const ModeRunner& init);
void PortChangeSave(int portIndex, const std::string& name, const ModeRunner& init);

// After a choice in the receive dialog's input selector: InPortSetting := low 8 bits of the
// input index, then a save (which writes OutPortSetting back unchanged).
void InputChoiceSave(int inputIndex, const ModeRunner& init);
// The same, remembering the input's name as well.
void InputChoiceSave(int inputIndex, const std::string& name, const ModeRunner& init);

// The entry to select at first among `entries` ("(None)" first, ports by their whole names):
// the one named as remembered (an older file's cut name: the first port it stands for); with no
// name remembered, the remembered index; -1 when the named port is not listed now.
// Never the port that now has the remembered number in place of a named one that has gone.
int RememberedInputEntry(const std::vector<std::string>& entries);
// The same for the output, except that without a name the remembered index is given even
// beyond the list: the start then opens nothing and keeps that index until the user chooses.
int RememberedOutputEntry(const std::vector<std::string>& entries);

// True when "KELVANE.cfg" in the current folder is a regular file (or a link to one).
bool MarkerFilePresent();

// The process-wide store, made by MakePlatformRegistryStore() at first use.
RegistryStore& DefaultRegistryStore();

// Both bytes back to 0 as at process start. For tests only.
void ResetSettingsForTests();

}  // namespace settings
