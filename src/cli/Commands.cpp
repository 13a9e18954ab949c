#include "cli/Commands.h"

#include <exception>

#include "cli/CliTexts.h"
#include "cli/CommandLine.h"
#include "cli/Interrupt.h"
#include "cli/JsonText.h"
#include "cli/MessageSelection.h"
#include "cli/Receiver.h"
#include "cli/Sender.h"
#include "common/Failure.h"
#include "midi/Input.h"
#include "midi/Port.h"
#include "smf/DumpWriter.h"
#include "smf/NoDataText.h"
#include "smf/SmfWriter.h"
#include "sysex/Inspector.h"
#include "sysex/Loader.h"
#include "sysex/Store.h"

namespace cli {

namespace {

// A refusal the window shows as a notice rather than as a failure: printed as it is, with no
// full stop added, but still exit status 1.
class Notice : public kelvane::Failure {
public:
    using kelvane::Failure::Failure;
};

// A send stopped by the user: told like a notice, with its own exit status.
class Cancelled : public kelvane::Failure {
public:
    using kelvane::Failure::Failure;
};

// Loads the dump into the store; what the loader had to drop is told as the window tells it,
// and the command goes on with the rest.
void LoadDump(const std::string& path, std::ostream& err) {
    const sysex::ScanResult result = sysex::LoadDumpFile(path);
    if (result.DroppedAnything()) err << sysex::DroppedNotice(result) << '\n';
}

void RequireMessages() {
    if (sysex::SysExCount == 0) throw Notice(smf::NoDataText);
}

int StoreIndex(std::uint32_t messageNumber) {
    RequireMessages();
    if (messageNumber == 0 || messageNumber > static_cast<std::uint32_t>(sysex::SysExCount)) {
        throw kelvane::Failure(MessageOutOfRangeText(messageNumber, sysex::SysExCount));
    }
    return static_cast<int>(messageNumber) - 1;
}

void List(std::ostream& out, bool json) {
    if (!json) {
        for (int k = 0; k < sysex::SysExCount; ++k) out << sysex::ListLine(k) << '\n';
        return;
    }
    out << "{\"messages\":[";
    for (int k = 0; k < sysex::SysExCount; ++k) {
        out << (k ? "," : "") << "{\"number\":" << (k + 1) << ",\"storedLength\":" << sysex::SysExLen[k]
            << ",\"line\":" << JsonString(sysex::ListLine(k)) << '}';
    }
    out << "]}\n";
}

void Info(std::ostream& out, std::uint32_t messageNumber, bool json) {
    const int k = StoreIndex(messageNumber);
    const auto lines = sysex::InfoLines(k);
    if (!json) {
        for (const std::string& line : lines) out << line << '\n';
        return;
    }
    // Each pane line is "Label:value"; the labels become the field names.
    out << "{\"number\":" << messageNumber << ",\"storedLength\":" << sysex::SysExLen[k] << ",\"fields\":{";
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::size_t colon = lines[i].find(':');
        out << (i ? "," : "") << JsonString(lines[i].substr(0, colon)) << ':'
            << JsonString(lines[i].substr(colon + 1));
    }
    out << "},\"lines\":[";
    for (std::size_t i = 0; i < lines.size(); ++i) out << (i ? "," : "") << JsonString(lines[i]);
    out << "]}\n";
}

void Hex(std::ostream& out, std::uint32_t messageNumber) {
    constexpr std::size_t BytesPerLine = 16;
    const int k = StoreIndex(messageNumber);
    const std::size_t bytes = std::size_t{sysex::SysExLen[k]} + 1;
    std::string line;
    for (std::size_t i = 0; i < bytes; ++i) {
        if (i % BytesPerLine != 0) line += ' ';
        line += sysex::HexByte(sysex::SysExData[k][i]);
        if (i % BytesPerLine == BytesPerLine - 1 || i + 1 == bytes) {
            out << line << '\n';
            line.clear();
        }
    }
}

// "-" names standard output, as for most tools that write a file.
void Export(const std::string& outputPath, std::ostream& out) {
    RequireMessages();
    if (outputPath != "-") {
        smf::ExportStore(outputPath);
        return;
    }
    out.flush();
    smf::OutputFile file(smf::StandardOutput);
    smf::ExportStore(file);
}

// Lists what the window would list. A sound server that did not answer is left out, as the
// window leaves it out, but here the command also fails with the reason, since a script reading
// the list cannot tell otherwise.
void Ports(std::ostream& out, bool json, bool input) {
    const std::vector<std::string> entries = input ? midi::ReadInputEntries() : midi::ReadPortEntries();
    if (!json) {
        for (std::size_t k = 0; k < entries.size(); ++k) out << k << ' ' << entries[k] << '\n';
    } else {
        out << "{\"ports\":[";
        for (std::size_t k = 0; k < entries.size(); ++k) {
            out << (k ? "," : "") << "{\"index\":" << k << ",\"name\":" << JsonString(entries[k]) << '}';
        }
        out << "]}\n";
    }
    if (const std::string gap = midi::PortListingGap(); !gap.empty()) throw kelvane::Failure(gap);
}

void Send(const Invocation& invocation, std::ostream& out, std::ostream* progress) {
    RequireMessages();
    const std::vector<int> indexes = MessageIndexes(invocation.messages, sysex::SysExCount);
    const std::uint32_t port = invocation.portIndex;
    if (port == 0) throw kelvane::Failure(NoPortText());
    const std::vector<std::string> entries = midi::ReadPortEntries();
    if (port >= entries.size()) {
        // The port may be missing only because its server did not answer: say that instead.
        if (const std::string gap = midi::PortListingGap(); !gap.empty()) throw kelvane::Failure(gap);
        throw kelvane::Failure(PortOutOfRangeText(port, entries.size() - 1));
    }
    const int code = midi::OpenPortIndex(static_cast<std::int32_t>(port));
    if (code != 0) throw kelvane::Failure(PortOpenFailedText(port, entries[port], code));
    InterruptCatcher interrupt;
    const midi::TransmissionOutcome outcome =
        SendMessages(indexes, midi::Pace{invocation.gapMs, invocation.speedPercent}, progress, &interrupt);
    if (invocation.json) out << SendSummaryJson(outcome, indexes.size()) << std::flush;
    if (!outcome.error.empty()) throw kelvane::Failure(outcome.error);
    if (outcome.cancelled) {
        throw Cancelled("中止しました: " + std::to_string(indexes.size()) + " メッセージのうち " +
                        std::to_string(outcome.messagesWhole) + " を送信しました");
    }
}

// The request goes into the store first: the received messages replace it in the end anyway.
void LoadRequest(const Invocation& invocation, std::ostream& err) {
    if (!invocation.requestPath.empty()) {
        LoadDump(invocation.requestPath, err);
    } else if (!invocation.requestBytes.empty()) {
        const sysex::ScanResult result = sysex::ScanDump(invocation.requestBytes.data(), invocation.requestBytes.size());
        if (result.DroppedAnything()) err << sysex::DroppedNotice(result) << '\n';
    } else {
        return;
    }
    RequireMessages();
}

void Receive(const Invocation& invocation, std::ostream& out, std::ostream& err, bool errIsTerminal) {
    LoadRequest(invocation, err);
    ReceiveRequest request;
    request.inputEntry = invocation.portIndex;
    request.idleMs = invocation.idleMs;
    request.count = invocation.count;
    request.timeoutMs = invocation.timeoutMs;
    request.sendStore = !invocation.requestPath.empty() || !invocation.requestBytes.empty();
    request.outputEntry = invocation.outPortIndex;
    const ReceiveOutcome outcome = ReceiveIntoStore(request, errIsTerminal ? &err : nullptr);
    if (outcome.scan.DroppedAnything()) err << sysex::DroppedNotice(outcome.scan) << '\n';
    if (!outcome.inputError.empty()) err << outcome.inputError << '\n';
    RequireMessages();
    smf::ExportStoreAsDump(invocation.outputPath);
    if (!invocation.json) {
        List(out, false);
        return;
    }
    out << "{\"file\":" << JsonString(invocation.outputPath) << ",\"stoppedBy\":\"" << outcome.stoppedBy
        << "\",\"receivedBytes\":" << outcome.bytes << ",\"messages\":[";
    for (int k = 0; k < sysex::SysExCount; ++k) {
        out << (k ? "," : "") << "{\"number\":" << (k + 1) << ",\"storedLength\":" << sysex::SysExLen[k]
            << ",\"line\":" << JsonString(sysex::ListLine(k)) << '}';
    }
    out << "]}\n";
}

void Execute(const Invocation& invocation, std::ostream& out, std::ostream& err, bool errIsTerminal) {
    switch (invocation.kind) {
        case CommandKind::Help: out << HelpText(); return;
        case CommandKind::Version: out << VersionText() << '\n'; return;
        case CommandKind::Ports: Ports(out, invocation.json, invocation.input); return;
        case CommandKind::Receive: Receive(invocation, out, err, errIsTerminal); return;
        default: break;
    }
    LoadDump(invocation.dumpPath, err);
    switch (invocation.kind) {
        case CommandKind::List: List(out, invocation.json); break;
        case CommandKind::Info: Info(out, invocation.messageNumber, invocation.json); break;
        case CommandKind::Hex: Hex(out, invocation.messageNumber); break;
        case CommandKind::Export: Export(invocation.outputPath, out); break;
        case CommandKind::Send: Send(invocation, out, errIsTerminal ? &err : nullptr); break;
        default: break;
    }
}

}  // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal) {
    Invocation invocation;
    try {
        invocation = ParseCommandLine(args);
    } catch (const UsageError& error) {
        err << "kelvane-cli: " << error.what() << '\n' << UsageLine() << '\n';
        return ExitUsage;
    }
    try {
        Execute(invocation, out, err, errIsTerminal);
    } catch (const Cancelled& cancelled) {
        err << cancelled.what() << '\n';
        return ExitCancelled;
    } catch (const Notice& notice) {
        err << notice.what() << '\n';
        return ExitFailed;
    } catch (const kelvane::Failure& failure) {
        err << kelvane::FailureDisplayText(failure.what()) << '\n';
        return ExitFailed;
    } catch (const std::exception& error) {
        // Not one of the system's own failures (memory, a library fault): still no crash.
        err << "kelvane-cli: " << error.what() << '\n';
        return ExitFailed;
    }
    out.flush();
    if (!out) {
        err << kelvane::FailureDisplayText(StdoutFailedText()) << '\n';
        return ExitFailed;
    }
    return ExitDone;
}

}  // namespace cli
