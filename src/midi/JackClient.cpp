#include "midi/JackClient.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "midi/QueuedPort.h"

namespace midi {

namespace {

// Never destroyed: a port's thread may still close its client while the process exits.
std::mutex& LifecycleTurn() {
    static auto* turn = new std::mutex;
    return *turn;
}

void SilentPrinter(const char*) {}

std::string StatusText(jack_status_t status) {
    if (status & JackServerFailed) return "サーバーに接続できません";
    if (status & JackServerError) return "サーバーとの通信に失敗しました";
    if (status & JackNameNotUnique) return "クライアント名が使われています";
    if (status & JackVersionError) return "サーバーのバージョンが合いません";
    return "状態 " + std::to_string(static_cast<int>(status));
}

// libjack locks the server's whole port graph (some 100 MB) into memory for every client it
// opens. A listing client processes no audio and lives for milliseconds, yet where the process
// may lock memory (root, or CAP_IPC_LOCK) that lock costs more than the rest of the open, and it
// is what the window waits for at start-up. So the calling thread, and only it, sets the
// capability aside while such a client opens; without it the lock is refused at once and libjack
// goes on unlocked. The raw calls act on this thread alone, which is the point; libcap's
// cap_set_proc may act on every thread of the process.
class WithoutMemoryLocking {
public:
    WithoutMemoryLocking() {
        if (syscall(SYS_capget, &header_, saved_) != 0) return;
        if ((saved_[0].effective & CAP_TO_MASK(CAP_IPC_LOCK)) == 0) return;
        __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
        lowered[0].effective &= ~CAP_TO_MASK(CAP_IPC_LOCK);
        lowered_ = syscall(SYS_capset, &header_, lowered) == 0;
    }
    ~WithoutMemoryLocking() {
        if (lowered_) syscall(SYS_capset, &header_, saved_);
    }
    WithoutMemoryLocking(const WithoutMemoryLocking&) = delete;
    WithoutMemoryLocking& operator=(const WithoutMemoryLocking&) = delete;

private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
    bool lowered_ = false;
};

}  // namespace

void SilenceLibJack() {
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(SilentPrinter);
        jack_set_info_function(SilentPrinter);
    });
}

jack_client_t* OpenJackClientOrThrow(const char* name) {
    jack_status_t status{};
    jack_client_t* client = OpenJackClient(name, status);
    if (!client) {
        throw BackendFailure("JACK", "jack_client_open", StatusText(status),
                             static_cast<int>(status) ? -static_cast<int>(status) : -EIO);
    }
    return client;
}

void CheckJack(int result, const char* operation) {
    if (result == 0) return;
    const int code = result < 0 ? -result : result;
    throw BackendFailure("JACK", operation, code == 1 ? "" : std::strerror(code), -code);
}

std::vector<std::string> ListJackMidiPorts(unsigned long flags) {
    jack_client_t* client = nullptr;
    {
        const WithoutMemoryLocking unlocked;
        client = OpenJackClientOrThrow("Kelvane list");
    }
    std::vector<std::string> names;
    if (const char** ports = jack_get_ports(client, nullptr, JACK_DEFAULT_MIDI_TYPE, flags)) {
        for (const char** port = ports; *port; ++port) names.emplace_back(*port);
        jack_free(ports);
    }
    // The list is complete now; the caller (at start-up, the window) need not wait for the
    // server to take the client down.
    CloseJackClientInBackground(client);
    return names;
}

bool JackServerNameUsable() {
    const char* name = std::getenv("JACK_DEFAULT_SERVER");
    return name == nullptr || std::strlen(name) <= MaxJackServerNameBytes;
}

jack_client_t* OpenJackClient(const char* name, jack_status_t& status) {
    if (!JackServerNameUsable()) {
        status = static_cast<jack_status_t>(JackFailure | JackServerFailed);
        return nullptr;
    }
    std::lock_guard turn(LifecycleTurn());
    return jack_client_open(name, JackNoStartServer, &status);
}

int ActivateJackClient(jack_client_t* client) {
    std::lock_guard turn(LifecycleTurn());
    return jack_activate(client);
}

int ConnectJackPorts(jack_client_t* client, const char* source, const char* destination) {
    std::lock_guard turn(LifecycleTurn());
    return jack_connect(client, source, destination);
}

void CloseJackClient(jack_client_t* client, bool serverGone) {
    if (!client || serverGone) return;
    std::lock_guard turn(LifecycleTurn());
    jack_deactivate(client);
    jack_client_close(client);
}

void CloseJackClientInBackground(jack_client_t* client) {
    if (!client) return;
    BackgroundCloseStarted();
    try {
        std::thread([client] {
            WaitWhileListingClosesHeld();
            CloseJackClient(client);
            BackgroundCloseEnded();
        }).detach();
    } catch (const std::system_error&) {
        BackgroundCloseEnded();
        CloseJackClient(client);
    }
}

}  // namespace midi
