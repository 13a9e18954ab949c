#pragma once
// A recording stand-in for the MIDI output service, for tests of everything above the seam
// (the port logic here, the window's handlers elsewhere). It lists the devices it is given and
// writes every open, send and close into a shared log as one line of text:
//   "open 1 Synth"          device 1 opened (its name at the time)
//   "open 2 Broken -> 4"    the open of device 2 failed with code 4
//   "send 1: F0 7E F7"      a message handed to the port of device 1, in hex
//   "close 1"               the port of device 1 destroyed

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "common/Failure.h"
#include "midi/OutputService.h"

namespace midi::testing {

struct FakeDevice {
    std::string name;
    bool nameFails = false;  // DeviceName throws for it
    int openCode = 0;        // what Open gives; 0 opens
    bool sendFails = false;  // its port takes messages but fails every one (the device went away)
};

using FakeLog = std::vector<std::string>;

inline std::string HexText(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (const auto byte : bytes) {
        char digits[4];
        std::snprintf(digits, sizeof digits, text.empty() ? "%02X" : " %02X", byte);
        text += digits;
    }
    return text;
}

class FakePort final : public OutputPort {
public:
    FakePort(std::size_t device, std::shared_ptr<FakeLog> log, bool fails = false)
        : device_(device), log_(std::move(log)), fails_(fails) {}
    ~FakePort() override { log_->push_back("close " + std::to_string(device_)); }

    void Send(std::span<const std::uint8_t> message) override {
        if (fails_) {
            ++status_.handedOver;
            ++status_.failed;
            status_.lastError = "device gone";
            return;
        }
        log_->push_back("send " + std::to_string(device_) + ": " + HexText(message));
        ++status_.handedOver;
        ++status_.sent;
    }
    bool WaitUntilSent(std::chrono::milliseconds) override { return true; }
    PortStatus Status() const override { return status_; }

private:
    std::size_t device_;
    std::shared_ptr<FakeLog> log_;
    PortStatus status_;
    bool fails_;
};

class FakeOutputService final : public OutputService {
public:
    explicit FakeOutputService(std::vector<FakeDevice> devices,
                               std::shared_ptr<FakeLog> log = std::make_shared<FakeLog>())
        : devices_(std::move(devices)), log_(std::move(log)) {}

    // N devices named "Device 0" ... "Device N-1".
    static std::vector<FakeDevice> Numbered(std::size_t count) {
        std::vector<FakeDevice> devices(count);
        for (std::size_t i = 0; i < count; ++i) devices[i].name = "Device " + std::to_string(i);
        return devices;
    }

    std::size_t CountDevices() override { return devices_.size(); }

    std::string DeviceName(std::size_t device) override {
        if (device >= devices_.size() || devices_[device].nameFails) {
            throw kelvane::Failure("name of device " + std::to_string(device) + " unreadable");
        }
        return devices_[device].name;
    }

    OpenResult Open(std::size_t device) override {
        if (device >= devices_.size()) {
            log_->push_back("open " + std::to_string(device) + " -> out of range");
            return {NoSuchDevice, "out of range", nullptr};
        }
        const FakeDevice& fake = devices_[device];
        if (fake.openCode != 0) {
            log_->push_back("open " + std::to_string(device) + " " + fake.name + " -> " +
                            std::to_string(fake.openCode));
            return {fake.openCode, "refused", nullptr};
        }
        log_->push_back("open " + std::to_string(device) + " " + fake.name);
        return {0, {}, std::make_unique<FakePort>(device, log_, fake.sendFails)};
    }

    const std::shared_ptr<FakeLog>& Log() const { return log_; }

    // Devices come and go: the next CountDevices lists these.
    void SetDevices(std::vector<FakeDevice> devices) { devices_ = std::move(devices); }

private:
    std::vector<FakeDevice> devices_;
    std::shared_ptr<FakeLog> log_;
};

}  // namespace midi::testing
