#pragma once
// The sound-server clients this process has open, so that listings never offer our own ports:
// a request sent into our own input would come back as the "received" dump. Any thread.

#include <string>
#include <string_view>
#include <vector>

namespace midi {

// JACK clients by the name the server gave them (it may differ from the one asked for).
void NoteOwnJackClient(const std::string& name);
void ForgetOwnJackClient(const std::string& name);
// Whether "client:port" belongs to one of them.
bool IsOwnJackPort(std::string_view portName);
// `names` ("client:port") without the ports of our own clients.
std::vector<std::string> WithoutOwnPorts(std::vector<std::string> names);

// ALSA sequencer clients by number.
void NoteOwnAlsaClient(int client);
void ForgetOwnAlsaClient(int client);
bool IsOwnAlsaClient(int client);

// Notes an ALSA client for as long as the mark lives.
class OwnAlsaClientMark {
public:
    OwnAlsaClientMark() = default;
    ~OwnAlsaClientMark() {
        if (client_ >= 0) ForgetOwnAlsaClient(client_);
    }
    OwnAlsaClientMark(const OwnAlsaClientMark&) = delete;
    OwnAlsaClientMark& operator=(const OwnAlsaClientMark&) = delete;
    void Set(int client) {
        client_ = client;
        NoteOwnAlsaClient(client);
    }

private:
    int client_ = -1;
};

}  // namespace midi
