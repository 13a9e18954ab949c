// The remembered port over the real file store: start-up with and without the marker file, the
// port-change save, the three failures, broken and unwritable files, and two processes at once.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

#include "Files.h"
#include "ForkedChild.h"
#include "TempDir.h"
#include "Unprivileged.h"
#include "common/Failure.h"
#include "settings/RegFileStore.h"
#include "settings/RegText.h"
#include "settings/Settings.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ReadText;

const std::string Header = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\ZORVIK]\n";
const std::string InWriteFailure = "'KELV_In' の設定に失敗しました";
const std::string InTypeFailure = "'KELV_In' のデータ型が不正です";
const std::string OutTypeFailure = "'KELV_Out' のデータ型が不正です";
const std::string OutReadFailure = "'KELV_Out' の取得に失敗しました";

std::string Stored(int in, int out) {
    char lines[64];
    std::snprintf(lines, sizeof lines, "\"KELV_In\"=hex:%02x\n\"KELV_Out\"=hex:%02x\n", in, out);
    return Header + lines;
}

std::string FailureOf(const std::function<void()>& step) {
    try {
        step();
    } catch (const kelvane::Failure& failure) {
        return failure.what();
    }
    return "";
}

// XDG_CONFIG_HOME and the current folder point into a fresh temporary folder; the store is the
// default file store, so it finds its file the way the program does.
class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        settings::ResetSettingsForTests();
        fs::create_directory(cwd);
        ASSERT_EQ(::setenv("XDG_CONFIG_HOME", config.c_str(), 1), 0);
        previous = fs::current_path();
        fs::current_path(cwd);
    }
    void TearDown() override { fs::current_path(previous); }

    settings::ModeRunner Init(settings::RegistryStore& store) {
        return [&store](std::uint8_t mode) { settings::MIDI_Reg(mode, store); };
    }
    settings::ModeRunner Init() { return Init(store); }
    void Store(const std::string& text) {
        fs::create_directories(config);
        std::ofstream(regFile, std::ios::binary | std::ios::trunc) << text;
    }
    void PutMarker() { std::ofstream(cwd / settings::MarkerFileName).put('x'); }
    std::string Startup() { return FailureOf([&] { settings::SettingsStartupStep(Init()); }); }
    std::string PortChange(int index) { return FailureOf([&] { settings::PortChangeSave(index, Init()); }); }

    testsupport::TempDir dir;
    fs::path config = dir.Path() / "config";
    fs::path cwd = dir.Path() / "cwd";
    fs::path regFile = config / settings::RegFileName;
    fs::path previous;
    settings::RegFileStore store;
};

TEST_F(Settings, StartupWithMarkerLoadsWhatIsStoredAndChangesNothing) {
    const struct {
        const char* what;
        std::string values;
        int in, out;
        std::string failure;
    } cases[] = {
        {"one byte each", "\"KELV_In\"=hex:2a\n\"KELV_Out\"=hex:03\n", 42, 3, ""},
        {"nothing stored", "", 0, 0, ""},
        {"zero-length values", "\"KELV_In\"=hex:\n\"KELV_Out\"=hex:\n", 0, 0, ""},
        {"REG_NONE and an unknown type", "\"KELV_In\"=hex(0):09\n\"KELV_Out\"=hex(b):04\n", 9, 4, ""},
        {"KELV_Out as REG_DWORD", "\"KELV_In\"=hex:05\n\"KELV_Out\"=dword:00000003\n", 5, 0, OutTypeFailure},
        {"KELV_Out as one-byte REG_DWORD", "\"KELV_Out\"=hex(4):03\n", 0, 0, OutTypeFailure},
        {"KELV_Out as REG_SZ", "\"KELV_Out\"=\"3\"\n", 0, 0, OutTypeFailure},
        {"KELV_Out as REG_EXPAND_SZ", "\"KELV_Out\"=hex(2):33,00\n", 0, 0, OutTypeFailure},
        {"KELV_Out of two bytes", "\"KELV_Out\"=hex:03,00\n", 0, 0, OutTypeFailure},
        {"KELV_In of two bytes ends the load", "\"KELV_In\"=hex:01,02\n\"KELV_Out\"=hex:05\n", 0, 0, InTypeFailure},
    };
    PutMarker();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Store(Header + c.values);
        settings::InPortSetting = settings::OutPortSetting = 0x77;
        EXPECT_EQ(Startup(), c.failure);
        EXPECT_EQ(settings::InPortSetting, c.in);
        EXPECT_EQ(settings::OutPortSetting, c.out);
        EXPECT_EQ(ReadText(regFile), Header + c.values);
    }
}

// The send dialog's pace beside the port bytes: a value that cannot be the pace gives its
// default, and a save writes both as REG_DWORD without touching the port bytes.
TEST_F(Settings, SendPaceLoadsWhatFitsAndSavesBesideThePortBytes) {
    const struct {
        const char* what;
        std::string values;
        std::uint32_t pauseMs, speedPercent;
    } cases[] = {
        {"nothing stored", "", 150, 100},
        {"both stored", "\"KELV_SendPause\"=dword:000003e8\n\"KELV_SendSpeed\"=dword:00000019\n", 1000, 25},
        {"out of range", "\"KELV_SendPause\"=dword:0000ea61\n\"KELV_SendSpeed\"=dword:000003e9\n", 150, 100},
        {"above the cable", "\"KELV_SendSpeed\"=dword:000003e8\n", 150, 1000},
        {"the fastest", "\"KELV_SendSpeed\"=dword:00000000\n", 150, 0},
        {"wrong types", "\"KELV_SendPause\"=hex:10\n\"KELV_SendSpeed\"=\"50\"\n", 150, 100},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Store(Header + c.values);
        const settings::SendPace pace = settings::LoadSendPace(store);
        EXPECT_EQ(pace.pauseMs, c.pauseMs);
        EXPECT_EQ(pace.speedPercent, c.speedPercent);
    }
    Store(Stored(4, 7));
    settings::SaveSendPace({300, 50}, store);
    EXPECT_EQ(ReadText(regFile),
              Stored(4, 7) + "\"KELV_SendPause\"=dword:0000012c\n\"KELV_SendSpeed\"=dword:00000032\n");
}

TEST_F(Settings, StartupWithoutMarkerFileForgetsThePortButKeepsOtherValues) {
    for (const bool markerIsFolder : {false, true}) {
        SCOPED_TRACE(markerIsFolder ? "KELVANE.cfg is a folder" : "no KELVANE.cfg");
        if (markerIsFolder) fs::create_directory(cwd / settings::MarkerFileName);
        Store(Header + "\"KELV_In\"=hex:2a\n\"Other\"=hex:09\n\"KELV_Out\"=hex:03\n");
        EXPECT_EQ(Startup(), "");
        EXPECT_EQ(settings::InPortSetting, 0);
        EXPECT_EQ(settings::OutPortSetting, 0);
        EXPECT_EQ(ReadText(regFile), Header + "\"KELV_In\"=hex:00\n\"Other\"=hex:09\n\"KELV_Out\"=hex:00\n");
        EXPECT_EQ(PortChange(2), "");
        EXPECT_EQ(ReadText(regFile), Header + "\"KELV_In\"=hex:00\n\"Other\"=hex:09\n\"KELV_Out\"=hex:02\n");
    }
}

// The output's name goes beside its byte; "(None)" empties a name stored before, and so does
// the reset at a start without the marker file, so that no earlier port comes back.
TEST_F(Settings, OutputNameIsKeptBesideTheByteAndForgottenWithIt) {
    PutMarker();
    EXPECT_EQ(Startup(), "");
    EXPECT_EQ(FailureOf([&] { settings::PortChangeSave(2, "Syn", Init()); }), "");
    EXPECT_EQ(ReadText(regFile), Stored(0, 2) + "\"KELV_OutName\"=hex:53,79,6e\n");
    EXPECT_EQ(Startup(), "");
    EXPECT_EQ(settings::OutPortNameSetting, "Syn");
    EXPECT_EQ(settings::RememberedOutputEntry({"(None)", "A", "Syn"}), 2);
    EXPECT_EQ(settings::RememberedOutputEntry({"(None)", "A", "B"}), -1) << "never the port with its number";
    EXPECT_EQ(FailureOf([&] { settings::PortChangeSave(0, "", Init()); }), "");
    EXPECT_EQ(ReadText(regFile), Stored(0, 0) + "\"KELV_OutName\"=hex:\n");
    EXPECT_EQ(FailureOf([&] { settings::PortChangeSave(1, "Syn", Init()); }), "");
    fs::remove(cwd / settings::MarkerFileName);
    EXPECT_EQ(Startup(), "");
    EXPECT_EQ(settings::OutPortNameSetting, "");
    EXPECT_EQ(settings::RememberedOutputEntry({"(None)", "Syn"}), 0);
}

TEST_F(Settings, WithMarkerAndNothingStoredNothingIsWrittenUntilAPortChange) {
    PutMarker();
    EXPECT_EQ(Startup(), "");
    EXPECT_EQ(settings::OutPortSetting, 0);
    EXPECT_FALSE(fs::exists(config));
    EXPECT_EQ(PortChange(3), "");
    EXPECT_EQ(ReadText(regFile), Stored(0, 3));
}

TEST_F(Settings, HandSetInputByteIsWrittenBackByEveryPortChange) {
    PutMarker();
    Store(Stored(0x2A, 1));
    EXPECT_EQ(Startup(), "");
    EXPECT_EQ(settings::InPortSetting, 0x2A);
    EXPECT_EQ(PortChange(260), "");  // only the low 8 bits of the index are kept
    EXPECT_EQ(settings::OutPortSetting, 4);
    EXPECT_EQ(ReadText(regFile), Stored(0x2A, 4));
}

TEST_F(Settings, OtherModesOnlyOpenTheKey) {
    settings::InPortSetting = 7;
    settings::OutPortSetting = 8;
    settings::MIDI_Reg(2, store);
    EXPECT_FALSE(fs::exists(config));
    Store(Stored(1, 2));
    settings::MIDI_Reg(255, store);
    EXPECT_EQ(settings::InPortSetting, 7);
    EXPECT_EQ(settings::OutPortSetting, 8);
    EXPECT_EQ(ReadText(regFile), Stored(1, 2));
}

TEST_F(Settings, ConfigFolderThatCannotBeCreatedGivesTheWriteFailureForKELV_In) {
    std::ofstream(dir.Path() / "plain").put('x');
    ASSERT_EQ(::setenv("XDG_CONFIG_HOME", (dir.Path() / "plain" / "config").c_str(), 1), 0);
    EXPECT_EQ(Startup(), InWriteFailure);
    EXPECT_EQ(PortChange(1), InWriteFailure);
}

TEST_F(Settings, ReadOnlyConfigFolderLoadsButGivesTheWriteFailureForKELV_In) {
    PutMarker();
    Store(Stored(0x2A, 3));
    fs::permissions(dir.Path(), fs::perms::all);  // let "nobody" in
    fs::permissions(cwd, fs::perms::all);
    fs::permissions(config, fs::perms::all & ~(fs::perms::group_write | fs::perms::others_write));
    const auto status = testsupport::RunUnprivileged([&] {
        const bool loaded = Startup().empty() && settings::InPortSetting == 0x2A && settings::OutPortSetting == 3;
        return int(!loaded) | int(PortChange(5) != InWriteFailure) << 1;
    });
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(*status, 0);
    EXPECT_EQ(ReadText(regFile), Stored(0x2A, 3));
}

// A store whose key cannot be opened, as when the registry refuses it.
class NoKeyStore : public settings::RegistryStore {
public:
    settings::RegResult CreateKey(const std::string&, std::unique_ptr<settings::RegistryKey>& key) override {
        key.reset();
        return settings::RegAccessDenied;
    }
};

TEST_F(Settings, WithoutAKeyALoadKeepsTheBytesAndASaveFailsOnKELV_In) {
    NoKeyStore noKey;
    settings::InPortSetting = 7;
    settings::OutPortSetting = 8;
    EXPECT_EQ(FailureOf([&] { settings::MIDI_Reg(settings::LoadMode, noKey); }), "");
    EXPECT_EQ(settings::InPortSetting, 7);
    EXPECT_EQ(settings::OutPortSetting, 8);
    EXPECT_EQ(FailureOf([&] { settings::PortChangeSave(1, Init(noKey)); }), InWriteFailure);
}

TEST_F(Settings, CorruptedFileLoadsAsNothingAndIsKeptAsBadOnTheNextSave) {
    PutMarker();
    const std::string garbage = "\x01\x02 not a registry file\n";
    Store(garbage);
    EXPECT_EQ(Startup(), "");
    EXPECT_EQ(settings::OutPortSetting, 0);
    EXPECT_EQ(ReadText(regFile), garbage);
    EXPECT_EQ(PortChange(2), "");
    EXPECT_EQ(ReadText(regFile), Stored(0, 2));
    EXPECT_EQ(ReadText(config / "ZORVIK.reg.bad"), garbage);
}

// The real store, with another program growing "KELV_Out" to two bytes right after the settings
// have inspected it.
class GrowingOutStore : public settings::RegistryStore {
public:
    settings::RegResult CreateKey(const std::string& subKey, std::unique_ptr<settings::RegistryKey>& key) override {
        std::unique_ptr<settings::RegistryKey> inner;
        const auto result = real_.CreateKey(subKey, inner);
        key = inner ? std::make_unique<GrowingKey>(std::move(inner)) : nullptr;
        return result;
    }

private:
    class GrowingKey : public settings::RegistryKey {
    public:
        explicit GrowingKey(std::unique_ptr<settings::RegistryKey> inner) : inner_(std::move(inner)) {}
        settings::RegResult SetValue(const std::string& name, settings::RegType type, const std::uint8_t* data,
                                 std::uint32_t size) override {
            return inner_->SetValue(name, type, data, size);
        }
        settings::RegResult QueryValueInfo(const std::string& name, settings::RegType& type, std::uint32_t& size) override {
            const auto result = inner_->QueryValueInfo(name, type, size);
            const std::uint8_t two[] = {1, 2};
            if (name == "KELV_Out") inner_->SetValue(name, settings::RegBinary, two, 2);
            return result;
        }
        settings::RegResult QueryValue(const std::string& name, settings::RegType& type, std::uint8_t* buffer,
                                   std::uint32_t& size) override {
            return inner_->QueryValue(name, type, buffer, size);
        }

    private:
        std::unique_ptr<settings::RegistryKey> inner_;
    };
    settings::RegFileStore real_;
};

TEST_F(Settings, ValueChangedBetweenInspectionAndReadGivesTheReadFailure) {
    PutMarker();
    Store(Stored(0x2A, 3));
    GrowingOutStore growing;
    EXPECT_EQ(FailureOf([&] { settings::SettingsStartupStep(Init(growing)); }), OutReadFailure);
    EXPECT_EQ(settings::InPortSetting, 0x2A);
    EXPECT_EQ(settings::OutPortSetting, 0);
}

// What a reader finds in the file while two processes save: anything else than a whole file with
// "KELV_In" 0, a written port and counters that never go back is reported.
struct SharedFileCheck {
    std::string firstProblem;
    std::uint32_t counters[2] = {0, 0};

    void Look(const std::string& text) {
        const auto document = settings::ParseRegText(text);
        if (!document) return Report("unparseable", text);
        const auto* in = settings::FindValue(*document, "HKEY_CURRENT_USER\\ZORVIK", "KELV_In");
        const auto* out = settings::FindValue(*document, "HKEY_CURRENT_USER\\ZORVIK", "KELV_Out");
        if (in == nullptr || in->data != std::vector<std::uint8_t>{0}) return Report("KELV_In", text);
        // Only the very first save shows "KELV_In" without "KELV_Out", between its two writes.
        if (out != nullptr && (out->data.size() != 1 || out->data[0] < 1 || out->data[0] > 200))
            return Report("KELV_Out", text);
        for (int k = 0; k < 2; ++k) {
            const auto* counter = settings::FindValue(*document, "HKEY_CURRENT_USER\\ZORVIK", "Saves" + std::to_string(k));
            const std::uint32_t seen = counter == nullptr ? 0 : counter->data.at(0) | counter->data.at(1) << 8;
            if (seen < counters[k]) return Report("a lost save", text);
            counters[k] = seen;
        }
    }
    void Report(const char* what, const std::string& text) {
        if (firstProblem.empty()) firstProblem = std::string(what) + " in:\n" + text;
    }
};

TEST_F(Settings, TwoProcessesSavingAtOnceAlwaysLeaveAWholeFile) {
    constexpr int Saves = 1000;
    // Process k saves the ports 1..100 (k = 0) or 101..200 (k = 1) over and over, and every tenth
    // time counts its saves in a value of its own, "Saves<k>": a save made from a stale copy of
    // the file would take the other process's counter back.
    std::vector<std::unique_ptr<testsupport::ForkedChild>> children;
    for (int k = 0; k < 2; ++k) {
        children.push_back(std::make_unique<testsupport::ForkedChild>([&, k] {
            std::unique_ptr<settings::RegistryKey> key;
            if (store.CreateKey(settings::SettingsKeyName, key) != settings::RegSuccess) return 2;
            for (std::uint32_t i = 1; i <= Saves; ++i) {
                if (!PortChange(1 + static_cast<int>((i - 1) % 100) + 100 * k).empty()) return 1;
                const std::uint8_t count[4] = {std::uint8_t(i), std::uint8_t(i >> 8), 0, 0};
                if (i % 10 == 0 && key->SetValue("Saves" + std::to_string(k), settings::RegDword, count, 4) != 0) return 1;
            }
            return 0;
        }));
    }
    // Reads the file as often as it can while the children save: every read must find it whole.
    SharedFileCheck check;
    int reads = 0;
    while (children[0]->Running() || children[1]->Running()) {
        if (fs::exists(regFile)) {
            check.Look(ReadText(regFile));
            ++reads;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    for (const auto& child : children) EXPECT_EQ(child->Wait(), 0);
    EXPECT_EQ(check.firstProblem, "") << "after " << reads << " reads";
    EXPECT_GT(reads, 10);
    const auto last = ReadText(regFile);
    check.Look(last);
    EXPECT_EQ(check.counters[0], 1000u);
    EXPECT_EQ(check.counters[1], 1000u);
    EXPECT_TRUE(last.starts_with(Stored(0, 100)) || last.starts_with(Stored(0, 200))) << last;
}

}  // namespace
