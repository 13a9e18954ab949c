#include "midi/JackClient.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
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

}  // namespace

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
            CloseJackClient(client);
            BackgroundCloseEnded();
        }).detach();
    } catch (const std::system_error&) {
        BackgroundCloseEnded();
        CloseJackClient(client);
    }
}

}  // namespace midi
