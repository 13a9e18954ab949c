#include "midi/jack/JackClient.h"

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace midi {

namespace {

// Quiet, except for the one complaint that tells of libjack's own clean-up: a jack_client_open
// after a server died closes every client still open (JackLibGlobals::Init in libjack 1.9),
// so their records must say so before the next call on them.
void SilentPrinter(const char* message) {
    if (message && std::strstr(message, "clients are still allocated")) NoteLibJackClosesEveryClient();
}

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

std::shared_ptr<JackClientRecord> OpenJackClientOrThrow(const char* name) {
    jack_status_t status{};
    jack_client_t* client = OpenJackClient(name, status);
    if (!client) {
        throw BackendFailure("JACK", "jack_client_open", StatusText(status),
                             static_cast<int>(status) ? -static_cast<int>(status) : -EIO);
    }
    auto record = JackRecordOf(client);
    // Closed already: its server went away at once.
    if (!record) throw BackendFailure("JACK", "jack_client_open", StatusText(JackServerFailed), -EIO);
    return record;
}

void CheckJack(int result, const char* operation) {
    if (result == 0) return;
    const int code = result < 0 ? -result : result;
    throw BackendFailure("JACK", operation, code == 1 ? "" : std::strerror(code), -code);
}

std::vector<std::string> ListJackMidiPorts(unsigned long flags) {
    std::shared_ptr<JackClientRecord> client;
    {
        const WithoutMemoryLocking unlocked;
        client = OpenJackClientOrThrow("Kelvane list");
    }
    std::vector<std::string> names;
    if (const JackClientUse use(*client); use) {
        if (const char** ports = jack_get_ports(client->client, nullptr, JACK_DEFAULT_MIDI_TYPE, flags)) {
            for (const char** port = ports; *port; ++port) names.emplace_back(*port);
            jack_free(ports);
        }
    }
    // The list is complete now; the caller (at start-up, the window) need not wait for the
    // server to take the client down.
    CloseListingClientLater(std::move(client));
    return names;
}

std::vector<std::string> ListJackMidiPortsWithinLimit(unsigned long flags) {
    using Names = std::vector<std::string>;
    struct Pending {
        std::shared_future<Names> names;
        std::chrono::steady_clock::time_point started;
    };
    // Per server too: a listing under way may be for the server named before.
    using Key = std::pair<unsigned long, std::string>;
    static auto* mutex = new std::mutex;
    static auto* pending = new std::map<Key, Pending>;  // guarded by mutex
    const char* server = std::getenv("JACK_DEFAULT_SERVER");
    const Key key{flags, server ? server : ""};
    const auto now = std::chrono::steady_clock::now();
    Pending listing;
    {
        std::lock_guard lock(*mutex);
        listing = (*pending)[key];
        if (!listing.names.valid() || listing.names.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
            auto task = std::make_shared<std::packaged_task<Names()>>([flags] { return ListJackMidiPorts(flags); });
            listing = {task->get_future().share(), now};
            if (!StartJackLifecycleWork([task] { (*task)(); }, JackAnswerLimit)) {
                pending->erase(key);
                ThrowJackNotAnswering("jack_client_open");
            }
            (*pending)[key] = listing;
        } else if (now - listing.started >= JackAnswerLimit) {
            // Someone has waited for this one in vain already; the server does not answer.
            ThrowJackNotAnswering("jack_client_open");
        }
    }
    const auto left = JackAnswerLimit - std::chrono::duration_cast<std::chrono::milliseconds>(now - listing.started);
    return WaitWithinJackLimit("jack_client_open", listing.names, left);
}

}  // namespace midi
