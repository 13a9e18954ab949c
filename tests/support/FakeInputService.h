#pragma once
// A stand-in for the MIDI input service, for tests above the seam. It lists the devices it is
// given (FakeDevice, as the output fake); an open port keeps its ByteReceiver where the test can
// play the device's thread and hand bytes over, and says in `open` which port is open now.

#include <memory>
#include <string>
#include <vector>

#include "FakeOutputService.h"
#include "midi/InputService.h"

namespace midi::testing {

struct FakeInputState {
    ByteReceiver receiver;  // of the port open now; empty while none is
    int opened = 0;         // opens so far
};

class FakeInputService final : public InputService {
public:
    FakeInputService(std::vector<FakeDevice> devices, std::shared_ptr<FakeInputState> state)
        : devices_(std::move(devices)), state_(std::move(state)) {}

    std::size_t CountDevices() override { return devices_.size(); }
    std::string DeviceName(std::size_t device) override {
        if (device >= devices_.size() || devices_[device].nameFails) throw kelvane::Failure("no name");
        return devices_[device].name;
    }
    InputOpenResult Open(std::size_t device, ByteReceiver receiver) override {
        if (device >= devices_.size()) return {NoSuchDevice, "no such device", nullptr};
        if (devices_[device].openCode != 0) return {devices_[device].openCode, "busy", nullptr};
        ++state_->opened;
        state_->receiver = std::move(receiver);
        return {0, {}, std::make_unique<Port>(state_)};
    }

private:
    class Port final : public InputPort {
    public:
        explicit Port(std::shared_ptr<FakeInputState> state) : state_(std::move(state)) {}
        ~Port() override { state_->receiver = nullptr; }

    private:
        std::shared_ptr<FakeInputState> state_;
    };

    std::vector<FakeDevice> devices_;
    std::shared_ptr<FakeInputState> state_;
};

}  // namespace midi::testing
