#include "cli/Commands.h"

#include <cctype>
#include <exception>
#include <memory>
#include <new>
#include <string_view>

#include "cli/CliTexts.h"
#include "cli/CommandLine.h"
#include "cli/Identify.h"
#include "cli/Interrupt.h"
#include "cli/JsonText.h"
#include "cli/MessageSelection.h"
#include "cli/PortChoice.h"
#include "cli/Recovery.h"
#include "cli/Receiver.h"
#include "cli/Sender.h"
#include "common/Failure.h"
#include "common/FileOutput.h"
#include "midi/Input.h"
#include "midi/Port.h"
#include "smf/DumpWriter.h"
#include "sysex/NoDataText.h"
#include "smf/SmfWriter.h"
#include "sysex/Checksum.h"
#include "sysex/DeviceId.h"
#include "sysex/FileFix.h"
#include "sysex/Inspector.h"
#include "sysex/Manufacturers.h"
#include "sysex/Meaning.h"
#include "sysex/NamedRequests.h"
#include "sysex/Loader.h"
#include "sysex/Request.h"
#include "sysex/Store.h"
#include "sysex/StoreEdit.h"

namespace cli {

namespace {

// Saving failed, but the capture is safe in a recovery file.
class SavedElsewhere : public kelvane::Failure {
public:
    SavedElsewhere(const std::string& text, std::string recovery)
        : kelvane::Failure(text), recovery_(std::move(recovery)) {}
    const std::string& RecoveryPath() const { return recovery_; }

private:
    std::string recovery_;
};

// A refusal the window shows as a notice rather than as a failure: printed as it is, with no
// full stop added, but still exit status 1.
class Notice : public kelvane::Failure {
public:
    using kelvane::Failure::Failure;
};

// A request's parameter that cannot be read or taken: a bad argument, exit status 2, told in
// the words of the requests table (the parameter, its meaning and its range).
class BadParameter : public kelvane::Failure {
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
    if (sysex::SysExCount == 0) throw Notice(sysex::NoDataText);
}

int StoreIndex(std::uint32_t messageNumber) {
    RequireMessages();
    if (messageNumber == 0 || messageNumber > static_cast<std::uint32_t>(sysex::SysExCount)) {
        throw kelvane::Failure(MessageOutOfRangeText(messageNumber, sysex::SysExCount));
    }
    return static_cast<int>(messageNumber) - 1;
}

// "manufacturer": the maker's name, or null when its ID is not in the table.
std::string ManufacturerJson(int k) {
    const sysex::MessageBytes message = sysex::MessageAt(k);
    const auto name = sysex::ManufacturerName(message.data(), message.size());
    return "\"manufacturer\":" + (name ? JsonString(*name) : std::string("null"));
}

std::size_t StoredLength(int k) { return sysex::MessageAt(k).size() - 1; }

std::string NumberText(int k) {
    std::string number = std::to_string(k + 1);
    if (number.size() < 4) number.insert(0, 4 - number.size(), '0');
    return number;
}

void List(std::ostream& out, bool json) {
    if (!json) {
        for (int k = 0; k < sysex::SysExCount; ++k) out << sysex::ListLine(k) << '\n';
        return;
    }
    out << "{\"messages\":[";
    for (int k = 0; k < sysex::SysExCount; ++k) {
        out << (k ? "," : "") << "{\"number\":" << (k + 1) << ",\"storedLength\":" << StoredLength(k)
            << ',' << ManufacturerJson(k) << ",\"line\":" << JsonString(sysex::ListLine(k)) << '}';
    }
    out << "]}\n";
}

// One line per message, then, with --fix, the corrected copy. Returns whether any was wrong
// (and, with --fix, left uncorrected: none is).
bool Check(const Invocation& invocation, std::ostream& out) {
    RequireMessages();
    const std::vector<sysex::ChecksumVerdict> verdicts = sysex::CheckStore();
    std::size_t wrong = 0;
    if (invocation.json) out << "{\"messages\":[";
    for (int k = 0; k < sysex::SysExCount; ++k) {
        const sysex::ChecksumVerdict& verdict = verdicts[static_cast<std::size_t>(k)];
        if (verdict.state == sysex::ChecksumState::Wrong) ++wrong;
        const sysex::MessageBytes message = sysex::MessageAt(k);
        const auto maker = sysex::ManufacturerName(message.data(), message.size());
        if (!invocation.json) {
            const std::string makerText =
                maker ? std::string(*maker) : "Unknown(" + sysex::HexByte(message[1]) + "H)";
            out << NumberText(k) << ' ' << makerText << ' ' << sysex::ChecksumVerdictText(verdict) << '\n';
            continue;
        }
        static constexpr const char* kStates[] = {"none", "correct", "wrong"};
        out << (k ? "," : "") << "{\"number\":" << (k + 1) << ',' << ManufacturerJson(k) << ",\"checksum\":\""
            << kStates[static_cast<int>(verdict.state)] << '"';
        if (verdict.state != sysex::ChecksumState::None) {
            out << ",\"expected\":\"" << sysex::HexByte(verdict.expected) << "\",\"found\":\"" << sysex::HexByte(verdict.found)
                << '"';
        }
        out << '}';
    }
    if (invocation.json) out << "],\"wrong\":" << wrong;
    if (!invocation.fixPath.empty()) {
        // The file's own bytes with only the wrong checksum bytes changed, not the store saved
        // anew: whatever lies outside the messages stays, and the copy is the same kind of file.
        const sysex::FixedBytes fixed = sysex::FixChecksumsInDumpFile(invocation.dumpPath);
        if (fixed.fixed != wrong) throw kelvane::Failure(FileChangedText(invocation.dumpPath));
        kelvane::WriteFileSafely(invocation.fixPath, fixed.bytes.data(), fixed.bytes.size());
        if (invocation.json) {
            out << ",\"fixed\":" << wrong << ",\"file\":" << JsonString(invocation.fixPath);
        } else {
            out << FixedText(wrong, invocation.fixPath) << '\n';
        }
    }
    if (invocation.json) out << "}\n";
    return wrong > 0 && invocation.fixPath.empty();
}

void Info(std::ostream& out, std::uint32_t messageNumber, bool json) {
    const int k = StoreIndex(messageNumber);
    const auto lines = sysex::InfoLines(k);
    if (!json) {
        for (const std::string& line : lines) out << line << '\n';
        return;
    }
    // Each pane line is "Label:value"; the labels become the field names.
    const auto meaning = sysex::MessageMeaning(sysex::MessageAt(k));
    out << "{\"number\":" << messageNumber << ",\"storedLength\":" << StoredLength(k) << ',' << ManufacturerJson(k)
        << ",\"meaning\":" << (meaning ? JsonString(*meaning) : std::string("null")) << ",\"fields\":{";
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
    const sysex::MessageBytes message = sysex::MessageAt(k);
    const std::size_t bytes = message.size();
    std::string line;
    for (std::size_t i = 0; i < bytes; ++i) {
        if (i % BytesPerLine != 0) line += ' ';
        line += sysex::HexByte(message[i]);
        if (i % BytesPerLine == BytesPerLine - 1 || i + 1 == bytes) {
            out << line << '\n';
            line.clear();
        }
    }
}

bool WritesRawDump(const Invocation& invocation) {
    if (invocation.format != OutputFormat::ByName) return invocation.format == OutputFormat::Raw;
    std::string name = invocation.outputPath;
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    auto endsWith = [&name](std::string_view end) { return name.size() >= end.size() && name.ends_with(end); };
    return endsWith(".syx") || endsWith(".ex");
}

// "-" names standard output, as for most tools that write a file. A file is replaced only once
// it is complete (kelvane::OutputFile).
void WriteMessages(const Invocation& invocation, const sysex::MessageList& messages, std::ostream& out) {
    const bool raw = WritesRawDump(invocation);
    // What a Standard MIDI File cannot hold is refused before anything is prepared.
    if (!raw) smf::TrackBodySize(messages);
    std::unique_ptr<kelvane::OutputFile> file;
    if (invocation.outputPath == "-") {
        out.flush();
        file = std::make_unique<kelvane::OutputFile>(kelvane::StandardOutput);
    } else {
        file = std::make_unique<kelvane::OutputFile>(invocation.outputPath);
    }
    if (raw) {
        smf::WriteDump(*file, messages);
    } else {
        smf::WriteSmf(*file, messages);
    }
    file->Close();
}

void Export(const Invocation& invocation, std::ostream& out) {
    RequireMessages();
    const sysex::MessageList all = sysex::StoreMessages();
    WriteMessages(invocation, invocation.messages.empty() ? all : SelectedMessages(invocation.messages, all), out);
}

// Each file is loaded beside the store and its messages inserted at the store's end, as the
// window inserts a file.
void Join(const Invocation& invocation, std::ostream& out, std::ostream& err) {
    sysex::StoreWriting().Restart();
    sysex::SysExCount = 0;
    for (const JoinedFile& joined : invocation.joined) {
        const auto own = std::make_unique_for_overwrite<sysex::OwnStore>();
        const sysex::ScanResult result = sysex::LoadDumpFileInto(joined.path, *own);
        if (result.DroppedAnything()) err << joined.path << ": " << sysex::DroppedNotice(result) << '\n';
        sysex::MessageList messages = own->Messages();
        if (!joined.messages.empty()) {
            try {
                messages = SelectedMessages(joined.messages, messages);
            } catch (const kelvane::Failure& failure) {
                throw kelvane::Failure(joined.path + ": " + failure.what());
            }
        }
        try {
            sysex::StoreEditing().InsertAt(sysex::SysExCount, messages);
        } catch (const std::bad_alloc&) {
            throw kelvane::Failure("メモリーが足りないため、" + joined.path + " のメッセージを加えられません");
        }
    }
    RequireMessages();
    WriteMessages(invocation, sysex::StoreMessages(), out);
}

// Lists what the window would list. A sound server that did not answer is left out, as the
// window leaves it out, but here the command also fails with the reason, since a script reading
// the list cannot tell otherwise.
void Ports(std::ostream& out, bool json, bool input) {
    const std::vector<std::string> entries = input ? midi::ReadInputEntries(midi::EntryWidth::Whole)
                                                   : midi::ReadPortEntries(midi::EntryWidth::Whole);
    if (!json) {
        for (std::size_t k = 0; k < entries.size(); ++k) out << k << ' ' << entries[k] << '\n';
    } else {
        out << "{\"ports\":[";
        for (std::size_t k = 0; k < entries.size(); ++k) {
            out << (k ? "," : "") << "{\"index\":" << k << ",\"name\":" << JsonString(entries[k]) << '}';
        }
        out << "]}\n";
    }
    const std::string gap = input ? midi::InputListingGap() : midi::PortListingGap();
    if (!gap.empty()) throw kelvane::Failure(gap);
}

int Send(const Invocation& invocation, std::ostream& out, std::ostream& err, std::ostream* progress) {
    RequireMessages();
    const std::vector<int> indexes = MessageIndexes(invocation.messages, sysex::SysExCount);
    if (invocation.deviceId) {
        // Refused before any port is listed or opened.
        const std::string problem = sysex::DeviceIdProblem(StoredMessages(indexes), indexes, *invocation.deviceId);
        if (!problem.empty()) throw kelvane::Failure(problem);
    }
    const std::vector<std::string> entries = midi::ReadPortEntries(midi::EntryWidth::Whole);
    const std::uint32_t port = ResolvePort(invocation.port, entries, PortSide::Output, midi::PortListingGap());
    const int code = midi::OpenPortIndex(static_cast<std::int32_t>(port));
    if (code != 0) throw kelvane::Failure(PortOpenFailedText(port, entries[port], code));
    std::vector<std::vector<std::uint8_t>> messages = StoredMessages(indexes);
    if (invocation.deviceId) {
        // Copies are readdressed; the store, and so the file, stay as they were.
        const std::string problem = sysex::DeviceIdProblem(messages, indexes, *invocation.deviceId);
        if (!problem.empty()) throw kelvane::Failure(problem);
        for (auto& message : messages) sysex::SetDeviceId(message, static_cast<std::uint8_t>(*invocation.deviceId));
    }
    InterruptCatcher interrupt;
    const midi::TransmissionOutcome outcome = SendMessages(
        std::move(messages), midi::Pace{invocation.gapMs, invocation.speedPercent}, progress, &interrupt);
    if (invocation.json) out << SendSummaryJson(outcome, indexes) << std::flush;
    const std::vector<int> inDoubt = InDoubtNumbers(outcome, indexes);
    if (!inDoubt.empty()) err << SendInDoubtText(inDoubt) << '\n';
    // Stopped as asked, also when the port then failed to take its last bytes (a suspended
    // server): as in SendMessages.
    if (outcome.cancelled) throw Cancelled(SendCancelledText(outcome.messagesWhole, indexes.size()));
    if (!outcome.error.empty()) throw kelvane::Failure(outcome.error);
    return inDoubt.empty() ? ExitDone : ExitLost;
}

// The request goes into the store first: the received messages replace it in the end anyway.
void LoadRequest(const Invocation& invocation, std::ostream& err) {
    if (!invocation.requestPath.empty()) {
        LoadDump(invocation.requestPath, err);
        RequireMessages();
    } else if (!invocation.requestName.empty()) {
        const sysex::BuiltRequest built = sysex::BuildNamedRequest(invocation.requestName, invocation.requestValues);
        if (!built.problem.empty()) throw BadParameter("--request-name: " + built.problem);
        sysex::ScanDump(built.bytes.data(), built.bytes.size());
    } else if (!invocation.requestBytes.empty()) {
        const std::string problem = sysex::RequestProblem(invocation.requestBytes);
        if (!problem.empty()) throw kelvane::Failure("--request-hex: " + problem);
        sysex::ScanDump(invocation.requestBytes.data(), invocation.requestBytes.size());
    }
}

// With the dump on standard output, everything said goes to standard error, the JSON included.
bool ReportsOnStandardError(const Invocation& invocation) {
    return invocation.kind == CommandKind::Receive && invocation.outputPath == "-";
}

// Receiving never records into nowhere: the target is created (as its temporary file) before
// the input opens, so that a target that cannot be written costs nothing yet.
std::unique_ptr<kelvane::OutputFile> PrepareTarget(const std::string& path, std::ostream& out) {
    if (path == "-") {
        out.flush();
        return std::make_unique<kelvane::OutputFile>(kelvane::StandardOutput);
    }
    try {
        return std::make_unique<kelvane::OutputFile>(path);
    } catch (const kelvane::Failure& failure) {
        throw kelvane::Failure(TargetUnwritableText(path, failure.what()));
    }
}

// Writes the store and closes the target; should that still fail, the capture goes to a
// recovery file instead, and the failure names it.
void SaveCapture(kelvane::OutputFile& target, const std::string& path) {
    try {
        smf::WriteDump(target, sysex::StoreMessages());
        target.Close();
    } catch (const kelvane::Failure& failure) {
        const std::string reason = failure.what();
        const std::string recovery = SaveRecoveryDump(path);
        if (recovery.empty()) throw kelvane::Failure(CaptureLostText(path, reason));
        throw SavedElsewhere(CaptureSavedElsewhereText(path, reason, recovery), recovery);
    }
}

void WriteSummaryJson(std::ostream& out, const Invocation& invocation, const ReceiveOutcome& outcome) {
    const sysex::ReceptionSummary& summary = outcome.summary;
    const sysex::ScanResult& scan = summary.scan;
    out << "{\"file\":" << JsonString(invocation.outputPath) << ",\"stoppedBy\":\"" << outcome.stoppedBy
        << "\",\"receivedBytes\":" << summary.receivedBytes << ",\"keptBytes\":" << summary.keptBytes
        << ",\"dropped\":{\"tooLong\":" << scan.droppedTooLong << ",\"cutOff\":" << scan.droppedCutOff
        << ",\"damaged\":" << scan.droppedDamaged << ",\"beyondCount\":" << scan.notKept
        << ",\"atLimit\":" << (scan.stoppedOutOfMemory ? "true" : "false") << "},\"lost\":"
        << (summary.LostAnything() ? "true" : "false") << ",\"losses\":[";
    bool first = true;
    for (int k = 0; k < sysex::LossCauseCount; ++k) {
        const auto cause = static_cast<sysex::LossCause>(k);
        const std::uint32_t times = summary.losses.Times(cause);
        if (times == 0) continue;
        out << (first ? "" : ",") << "{\"cause\":\"" << sysex::LossCauseName(cause) << "\",\"times\":" << times
            << ",\"events\":" << summary.losses.Events(cause) << ",\"text\":"
            << JsonString(sysex::LossText(cause, times, summary.losses.Events(cause))) << '}';
        first = false;
    }
    out << "],\"wrongChecksums\":[";
    for (std::size_t i = 0; i < summary.wrongChecksums.size(); ++i) out << (i ? "," : "") << summary.wrongChecksums[i] + 1;
    out << "],\"messages\":[";
    for (int k = 0; k < sysex::SysExCount; ++k) {
        out << (k ? "," : "") << "{\"number\":" << (k + 1) << ",\"storedLength\":" << StoredLength(k)
            << ",\"line\":" << JsonString(sysex::ListLine(k)) << '}';
    }
    out << "]}\n";
}

int Receive(const Invocation& invocation, std::ostream& out, std::ostream& err, bool errIsTerminal) {
    LoadRequest(invocation, err);
    const bool request =
        !invocation.requestPath.empty() || !invocation.requestBytes.empty() || !invocation.requestName.empty();
    // One listing of each side, before anything is opened: the numbers are those `ports` showed.
    ReceiveRequest receive;
    const std::vector<std::string> inputs = midi::ReadInputEntries(midi::EntryWidth::Whole);
    receive.inputEntry = ResolvePort(invocation.port, inputs, PortSide::Input, midi::InputListingGap());
    receive.inputName = inputs[receive.inputEntry];
    if (request) {
        const std::vector<std::string> outputs = midi::ReadPortEntries(midi::EntryWidth::Whole);
        receive.outputEntry = ResolvePort(invocation.outPort, outputs, PortSide::Output, midi::PortListingGap());
        receive.outputName = outputs[receive.outputEntry];
    }
    receive.sendStore = request;
    receive.idleMs = invocation.idleMs;
    receive.count = invocation.count;
    receive.timeoutMs = invocation.timeoutMs;
    std::ostream& report = ReportsOnStandardError(invocation) ? err : out;
    const std::unique_ptr<kelvane::OutputFile> target = PrepareTarget(invocation.outputPath, out);

    const ReceiveOutcome outcome = ReceiveIntoStore(receive, errIsTerminal ? &err : nullptr);
    const std::string summary = sysex::ReceptionSummaryText(outcome.summary);
    if (outcome.summary.scan.stored == 0) throw Notice(summary);
    // The first line says what was kept; the rest, what was not.
    if (const std::size_t firstEnd = summary.find('\n'); firstEnd != std::string::npos) {
        err << summary.substr(firstEnd + 1) << '\n';
    }
    SaveCapture(*target, invocation.outputPath);
    if (invocation.json) {
        WriteSummaryJson(report, invocation, outcome);
    } else {
        List(report, false);
    }
    const bool damaged = outcome.summary.LostAnything() || !outcome.summary.wrongChecksums.empty();
    return damaged ? ExitLost : ExitDone;
}

int IdentifyCommand(const Invocation& invocation, std::ostream& out, std::ostream& err) {
    IdentifyRequest request;
    const std::vector<std::string> inputs = midi::ReadInputEntries(midi::EntryWidth::Whole);
    request.inputEntry = ResolvePort(invocation.inputPort, inputs, PortSide::Input, midi::InputListingGap());
    request.inputName = inputs[request.inputEntry];
    const std::vector<std::string> outputs = midi::ReadPortEntries(midi::EntryWidth::Whole);
    request.outputEntry = ResolvePort(invocation.port, outputs, PortSide::Output, midi::PortListingGap());
    request.outputName = outputs[request.outputEntry];
    request.waitMs = invocation.waitMs;
    const sysex::IdentifyAnswers answers = Identify(request);
    if (answers.replies.empty() && answers.malformed.empty()) {
        throw kelvane::Failure(NoIdentityReplyText(request.outputName, request.inputName, request.waitMs));
    }
    if (invocation.json) {
        out << IdentifyAnswersJson(answers);
    } else if (!answers.replies.empty()) {
        out << sysex::IdentifyAnswersText(answers) << '\n';
    }
    // Something answered, so the cable is not to blame: said as such, and a failure only when
    // no valid reply came.
    if (!answers.replies.empty()) return ExitDone;
    err << MalformedIdentityReplyText(request.outputName, request.inputName) << '\n';
    if (!invocation.json) err << sysex::IdentifyAnswersText(answers) << '\n';
    return ExitFailed;
}

std::string ParameterJson(const sysex::RequestParameter& p) {
    return "{\"name\":" + JsonString(p.name) + ",\"meaning\":" + JsonString(p.meaning) +
           ",\"range\":" + JsonString(sysex::ParameterRangeText(p)) + ",\"default\":" +
           (p.byDefault ? JsonString(sysex::ParameterValueText(p, *p.byDefault)) : std::string("null")) + "}";
}

void Requests(std::ostream& out, bool json) {
    const auto& table = sysex::NamedRequests();
    if (json) out << "{\"requests\":[";
    for (std::size_t i = 0; i < table.size(); ++i) {
        const sysex::NamedRequest& r = table[i];
        if (!json) {
            out << r.name << "  " << r.description << "  " << r.form << '\n';
            for (const sysex::RequestParameter& p : r.parameters) {
                out << "    " << p.name << "=" << sysex::ParameterRangeText(p) << "  " << p.meaning
                    << (p.byDefault ? "  (省略時 " + sysex::ParameterValueText(p, *p.byDefault) + ")" : "")
                    << '\n';
            }
            out << "    出典: " << r.source << '\n';
            continue;
        }
        out << (i ? "," : "") << "{\"name\":" << JsonString(r.name) << ",\"manufacturer\":" << JsonString(r.manufacturer)
            << ",\"description\":" << JsonString(r.description) << ",\"form\":" << JsonString(r.form)
            << ",\"parameters\":[";
        for (std::size_t k = 0; k < r.parameters.size(); ++k) out << (k ? "," : "") << ParameterJson(r.parameters[k]);
        out << "],\"source\":" << JsonString(r.source) << '}';
    }
    if (json) out << "]}\n";
}

void RequestCommand(const Invocation& invocation, std::ostream& out) {
    const sysex::BuiltRequest built = sysex::BuildNamedRequest(invocation.requestName, invocation.requestValues);
    if (!built.problem.empty()) throw BadParameter(built.problem);
    std::string line;
    for (const std::uint8_t byte : built.bytes) line += (line.empty() ? "" : " ") + sysex::HexByte(byte);
    out << line << '\n';
}

int Execute(const Invocation& invocation, std::ostream& out, std::ostream& err, bool errIsTerminal) {
    switch (invocation.kind) {
        case CommandKind::Help: out << HelpText(); return ExitDone;
        case CommandKind::Version: out << VersionText() << '\n'; return ExitDone;
        case CommandKind::Ports: Ports(out, invocation.json, invocation.input); return ExitDone;
        case CommandKind::Receive: return Receive(invocation, out, err, errIsTerminal);
        case CommandKind::Identify: return IdentifyCommand(invocation, out, err);
        case CommandKind::Requests: Requests(out, invocation.json); return ExitDone;
        case CommandKind::Request: RequestCommand(invocation, out); return ExitDone;
        case CommandKind::Join: Join(invocation, out, err); return ExitDone;
        default: break;
    }
    LoadDump(invocation.dumpPath, err);
    switch (invocation.kind) {
        case CommandKind::List: List(out, invocation.json); break;
        case CommandKind::Info: Info(out, invocation.messageNumber, invocation.json); break;
        case CommandKind::Hex: Hex(out, invocation.messageNumber); break;
        case CommandKind::Export: Export(invocation, out); break;
        case CommandKind::Send: return Send(invocation, out, err, errIsTerminal ? &err : nullptr);
        case CommandKind::Check:
            // Exit status 1 without a failure text: the lines have said what was wrong.
            if (Check(invocation, out)) return ExitFailed;
            break;
        default: break;
    }
    return ExitDone;
}

// With --json a script reads standard output only: a failure is a JSON document there too.
void JsonFailure(std::ostream& out, const Invocation& invocation, const std::string& text,
                 const std::string& recovery = {}) {
    if (!invocation.json) return;
    out << "{\"error\":" << JsonString(text);
    if (!recovery.empty()) out << ",\"recoveryFile\":" << JsonString(recovery);
    out << "}\n" << std::flush;
}

}  // namespace

StreamTexts StreamTextsFor(const std::vector<std::string>& args) {
    Invocation invocation;
    try {
        invocation = ParseCommandLine(args);
    } catch (const std::exception&) {
        return {};
    }
    if (invocation.utf8) return {StreamText::Utf8, StreamText::Utf8};
    if (!invocation.json) return {};
    // A failure's JSON goes to standard output even when the dump would have.
    return {StreamText::Utf8, ReportsOnStandardError(invocation) ? StreamText::Utf8 : StreamText::CodePage};
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, bool errIsTerminal) {
    Invocation invocation;
    try {
        invocation = ParseCommandLine(args);
    } catch (const UsageError& error) {
        err << "kelvane-cli: " << error.what() << '\n' << UsageLine() << '\n';
        return ExitUsage;
    }
    int status = ExitDone;
    try {
        status = Execute(invocation, out, err, errIsTerminal);
    } catch (const Cancelled& cancelled) {
        err << cancelled.what() << '\n';
        return ExitCancelled;
    } catch (const Notice& notice) {
        err << notice.what() << '\n';
        JsonFailure(out, invocation, notice.what());
        return ExitFailed;
    } catch (const BadParameter& bad) {
        err << bad.what() << '\n';
        JsonFailure(out, invocation, bad.what());
        return ExitUsage;
    } catch (const SavedElsewhere& failure) {
        err << failure.what() << '\n';
        JsonFailure(out, invocation, failure.what(), failure.RecoveryPath());
        return ExitFailed;
    } catch (const kelvane::Failure& failure) {
        err << failure.what() << '\n';
        JsonFailure(out, invocation, failure.what());
        return ExitFailed;
    } catch (const std::exception& error) {
        // Not one of the system's own failures (memory, a library fault): still no crash.
        err << "kelvane-cli: " << error.what() << '\n';
        JsonFailure(out, invocation, error.what());
        return ExitFailed;
    }
    out.flush();
    if (!out) {
        err << StdoutFailedText() << '\n';
        return ExitFailed;
    }
    return status;
}

}  // namespace cli
