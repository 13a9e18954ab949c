#include "settings/Settings.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "common/Failure.h"
#include "midi/Port.h"

namespace settings {

std::uint8_t InPortSetting = 0;
std::uint8_t OutPortSetting = 0;
std::string InPortNameSetting;
std::string OutPortNameSetting;

namespace {

constexpr char WriteFailureText[] = "'%s' の設定に失敗しました";
constexpr char TypeFailureText[] = "'%s' のデータ型が不正です";
constexpr char ReadFailureText[] = "'%s' の取得に失敗しました";

[[noreturn]] void Fail(const char* pattern, const char* valueName) {
    throw kelvane::Failure(kelvane::FormatText(pattern, valueName));
}

void SaveByte(RegistryKey* key, const char* name, std::uint8_t byte) {
    if (key == nullptr || key->SetValue(name, RegBinary, &byte, 1) != RegSuccess) Fail(WriteFailureText, name);
}

void LoadByte(RegistryKey* key, const char* name, std::uint8_t& byte) {
    RegType type = RegNone;
    std::uint32_t sizeBytes = 0;
    if (key == nullptr || key->QueryValueInfo(name, type, sizeBytes) != RegSuccess) return;
    if (type == RegSz || type == RegExpandSz || type == RegDword || sizeBytes > 1) Fail(TypeFailureText, name);
    // Reading straight into the setting with the size just found: a value that has grown in
    // between fails the read instead of overrunning the byte.
    if (key->QueryValue(name, type, &byte, sizeBytes) != RegSuccess) Fail(ReadFailureText, name);
}

// Our own later addition: a value that is not what we write is simply not a name.
void LoadName(RegistryKey* key, const char* name, std::string& text) {
    RegType type = RegNone;
    std::uint32_t sizeBytes = 0;
    text.clear();
    if (key == nullptr || key->QueryValueInfo(name, type, sizeBytes) != RegSuccess) return;
    if (type != RegBinary || sizeBytes == 0 || sizeBytes > 1024) return;
    std::string read(sizeBytes, '\0');
    if (key->QueryValue(name, type, reinterpret_cast<std::uint8_t*>(read.data()), sizeBytes) != RegSuccess) return;
    text = read.substr(0, sizeBytes);
}

// Written when there is a name, and emptied when a name was stored before (a port name from an
// earlier choice must not outlive a later "(None)" or the reset at start-up); a file that never
// held one gets none.
void SaveName(RegistryKey* key, const char* name, const std::string& text) {
    RegType type = RegNone;
    std::uint32_t sizeBytes = 0;
    if (text.empty() && (key == nullptr || key->QueryValueInfo(name, type, sizeBytes) != RegSuccess)) return;
    if (key == nullptr || key->SetValue(name, RegBinary, reinterpret_cast<const std::uint8_t*>(text.data()),
                                        static_cast<std::uint32_t>(text.size())) != RegSuccess) {
        Fail(WriteFailureText, name);
    }
}

int RememberedEntry(const std::vector<std::string>& entries, std::uint8_t index, const std::string& name) {
    if (name.empty()) return index;
    for (std::size_t k = 1; k < entries.size(); ++k) {
        if (entries[k] == name) return static_cast<int>(k);
    }
    // Settings saved before whole names were kept hold the name as the selector showed it, cut
    // at midi::MaxEntryChars characters: such a name still finds the first port it stands for.
    for (std::size_t k = 1; k < entries.size(); ++k) {
        if (midi::EntryText(entries[k]) == name && midi::EntryText(entries[k]) != entries[k]) return static_cast<int>(k);
    }
    return -1;
}

// A REG_DWORD within [low, high], or nothing.
std::optional<std::uint32_t> LoadDword(RegistryKey* key, const char* name, std::uint32_t low, std::uint32_t high) {
    RegType type = RegNone;
    std::uint32_t sizeBytes = 0;
    if (key == nullptr || key->QueryValueInfo(name, type, sizeBytes) != RegSuccess) return std::nullopt;
    if (type != RegDword || sizeBytes != 4) return std::nullopt;
    std::uint8_t bytes[4] = {};
    sizeBytes = sizeof bytes;
    if (key->QueryValue(name, type, bytes, sizeBytes) != RegSuccess || type != RegDword || sizeBytes != 4) {
        return std::nullopt;
    }
    // Little-endian, as the registry keeps a DWORD.
    const std::uint32_t value = bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) | (std::uint32_t{bytes[3]} << 24);
    if (value < low || value > high) return std::nullopt;
    return value;
}

void SaveDword(RegistryKey* key, const char* name, std::uint32_t value) {
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                                   static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    if (key == nullptr || key->SetValue(name, RegDword, bytes, sizeof bytes) != RegSuccess) Fail(WriteFailureText, name);
}

}  // namespace

SendPace LoadSendPace(RegistryStore& store) {
    std::unique_ptr<RegistryKey> key;
    store.CreateKey(SettingsKeyName, key);
    SendPace pace;
    pace.pauseMs = LoadDword(key.get(), SendPauseValueName, 0, midi::MaxPauseMs).value_or(pace.pauseMs);
    const auto speed = LoadDword(key.get(), SendSpeedValueName, 0, midi::MaxSpeedPercent);
    if (speed && midi::SpeedAccepted(*speed)) pace.speedPercent = *speed;
    return pace;
}

void SaveSendPace(const SendPace& pace, RegistryStore& store) {
    std::unique_ptr<RegistryKey> key;
    store.CreateKey(SettingsKeyName, key);
    SaveDword(key.get(), SendPauseValueName, pace.pauseMs);
    SaveDword(key.get(), SendSpeedValueName, pace.speedPercent);
}

void MIDI_Reg(std::uint8_t mode, RegistryStore& store) {
    std::unique_ptr<RegistryKey> key;
    store.CreateKey(SettingsKeyName, key);
    if (mode == SaveMode) {
        SaveByte(key.get(), InPortValueName, InPortSetting);
        SaveByte(key.get(), OutPortValueName, OutPortSetting);
        SaveName(key.get(), InPortNameValueName, InPortNameSetting);
        SaveName(key.get(), OutPortNameValueName, OutPortNameSetting);
    } else if (mode == LoadMode) {
        LoadByte(key.get(), InPortValueName, InPortSetting);
        LoadByte(key.get(), OutPortValueName, OutPortSetting);
        LoadName(key.get(), InPortNameValueName, InPortNameSetting);
        LoadName(key.get(), OutPortNameValueName, OutPortNameSetting);
    }
}

void SettingsStartupStep(const ModeRunner& init) {
    InPortSetting = 0;
    OutPortSetting = 0;
    InPortNameSetting.clear();
    OutPortNameSetting.clear();
    if (!MarkerFilePresent()) init(SaveMode);
    init(LoadMode);
}

void PortChangeSave(int portIndex, const ModeRunner& init) {
    OutPortSetting = static_cast<std::uint8_t>(portIndex);
    init(SaveMode);
}

void PortChangeSave(int portIndex, const std::string& name, const ModeRunner& init) {
    OutPortNameSetting = name;
    PortChangeSave(portIndex, init);
}

void InputChoiceSave(int inputIndex, const ModeRunner& init) {
    InPortSetting = static_cast<std::uint8_t>(inputIndex);
    init(SaveMode);
}

void InputChoiceSave(int inputIndex, const std::string& name, const ModeRunner& init) {
    InPortSetting = static_cast<std::uint8_t>(inputIndex);
    InPortNameSetting = name;
    init(SaveMode);
}

int RememberedInputEntry(const std::vector<std::string>& entries) {
    const int entry = RememberedEntry(entries, InPortSetting, InPortNameSetting);
    return entry < static_cast<int>(entries.size()) ? entry : -1;
}

int RememberedOutputEntry(const std::vector<std::string>& entries) {
    return RememberedEntry(entries, OutPortSetting, OutPortNameSetting);
}

bool MarkerFilePresent() {
    std::error_code ignored;
    return std::filesystem::is_regular_file(MarkerFileName, ignored);
}

RegistryStore& DefaultRegistryStore() {
    static const std::unique_ptr<RegistryStore> store = MakePlatformRegistryStore();
    return *store;
}

void ResetSettingsForTests() {
    InPortSetting = 0;
    OutPortSetting = 0;
    InPortNameSetting.clear();
    OutPortNameSetting.clear();
}

}  // namespace settings
