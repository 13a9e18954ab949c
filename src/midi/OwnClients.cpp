#include "midi/OwnClients.h"

#include <mutex>
#include <set>

namespace midi {

namespace {

struct Own {
    std::mutex mutex;
    std::multiset<std::string, std::less<>> jack;
    std::multiset<int> alsa;
};

Own& Clients() {
    static Own own;
    return own;
}

}  // namespace

void NoteOwnJackClient(const std::string& name) {
    std::lock_guard lock(Clients().mutex);
    Clients().jack.insert(name);
}

void ForgetOwnJackClient(const std::string& name) {
    std::lock_guard lock(Clients().mutex);
    if (const auto at = Clients().jack.find(name); at != Clients().jack.end()) Clients().jack.erase(at);
}

bool IsOwnJackPort(std::string_view portName) {
    const std::string_view client = portName.substr(0, portName.find(':'));
    std::lock_guard lock(Clients().mutex);
    return Clients().jack.find(client) != Clients().jack.end();
}

std::vector<std::string> WithoutOwnPorts(std::vector<std::string> names) {
    std::erase_if(names, [](const std::string& name) { return IsOwnJackPort(name); });
    return names;
}

void NoteOwnAlsaClient(int client) {
    std::lock_guard lock(Clients().mutex);
    Clients().alsa.insert(client);
}

void ForgetOwnAlsaClient(int client) {
    std::lock_guard lock(Clients().mutex);
    if (const auto at = Clients().alsa.find(client); at != Clients().alsa.end()) Clients().alsa.erase(at);
}

bool IsOwnAlsaClient(int client) {
    std::lock_guard lock(Clients().mutex);
    return Clients().alsa.count(client) > 0;
}

}  // namespace midi
