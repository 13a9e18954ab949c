#include "sysex/NamedRequests.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "sysex/Inspector.h"
#include "sysex/Manufacturers.h"

namespace sysex {

namespace {

RequestParameter Device(std::uint32_t high, std::optional<std::uint32_t> byDefault) {
    return {"device", "機器 ID", ParameterKind::Byte, 0, high, byDefault, {}};
}
// Channels as musicians count them, 1-16, whatever nibble the message holds.
RequestParameter Channel() {
    return {"channel", "MIDI チャンネル", ParameterKind::Nibble, 0, 0xF, 0, {}, Numbering::Decimal, 1};
}

// The maker as the makers table names it, from the form's ID bytes.
std::string MakerOfForm(std::string_view form) {
    const auto digit = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
    std::vector<std::uint8_t> header;
    for (std::size_t at = 0; at + 2 <= form.size() && header.size() < 4 && digit(form[at]) && digit(form[at + 1]);
         at += 3) {
        header.push_back(static_cast<std::uint8_t>(std::stoi(std::string(form.substr(at, 2)), nullptr, 16)));
    }
    header.push_back(0xF7);
    const auto name = ManufacturerName(header.data(), header.size());
    return name ? std::string(*name) : std::string();
}

// Sources were read in the documents named; addresses are where the text was read.
std::vector<NamedRequest> MakeTable() {
    const std::string midiTable =
        "MIDI 1.0 Universal System Exclusive Messages, Table 4 (https://midi.org/?p=1369)";
    std::vector<NamedRequest> rows;
    rows.push_back({"identity", "", "Identity Request", "機器の確認 (Identity Request)",
                    "F0 7E {device} 06 01 F7", {Device(0x7F, 0x7F)}, false,
                    midiTable + "; bytes as in Roland PCR-30/50/80 MIDI Implementation, Identity request message "
                                "(https://manualsdump.com/en/manuals/roland-pcr-30-pcr-50-pcr-80/245090/174)"});
    rows.push_back({"sample-dump", "", "Sample Dump Request", "サンプル・ダンプ要求 (Sample Dump Standard)",
                    "F0 7E {device} 03 {sample.lsb} {sample.msb} F7",
                    {Device(0x7F, std::nullopt), {"sample", "サンプル番号", ParameterKind::Word14, 0, 0x3FFF, std::nullopt, {}}},
                    false,
                    "MIDI Sample Dump Standard, Dump Request F0 7E cc 03 ss ss F7 "
                    "(http://annex.retroarchive.org/cdrom/pier-02/043A/SDS_DOC/SMPLDP.TXT; "
                    "http://www.personal.kent.edu/~sbirch/Music_Production/MP-II/MIDI/midi_sample_dump_standard_messag.htm)"});
    rows.push_back({"tuning-dump", "", "MIDI Tuning Bulk Dump Request", "チューニング・バルク・ダンプ要求 (MIDI Tuning)",
                    "F0 7E {device} 08 00 {program} F7",
                    {Device(0x7F, 0x7F),
                     {"program", "チューニング・プログラム番号", ParameterKind::Byte, 0, 127, std::nullopt, {},
                      Numbering::Decimal, 0}},
                    false,
                    "MIDI Tuning Standard, Bulk Tuning Dump Request F0 7E id 08 00 tt F7 "
                    "(http://microtonal-synthesis.com/MIDItuning.html)"});
    rows.push_back({"roland-rq1", "", "Roland RQ1",
                    "ローランドのデータ要求 1 (RQ1): 任意のモデル ID、アドレス、サイズ",
                    "F0 41 {device} {model} 11 ( {address} {size} {sum} F7",
                    {Device(0x1F, 0x10),
                     {"model", "モデル ID", ParameterKind::Bytes, 1, 4, std::nullopt, {}},
                     {"address", "アドレス", ParameterKind::Bytes, 1, 4, std::nullopt, {}},
                     {"size", "サイズ", ParameterKind::Bytes, 1, 4, std::nullopt, {}}},
                    true,
                    "Roland E-09 MIDI Implementation, Data Request 1 (RQ1) with model 42H and three-byte address and "
                    "size (https://roland.manymanuals.com/keyboards/e-28/user-manual-26152/10); Roland VK-8 MIDI "
                    "Implementation, RQ1 with model 00 4DH and four-byte address and size "
                    "(https://manualsdump.com/en/manuals/roland-vk-8/244543/73); address and size of equal length, "
                    "checksum: Roland TR-626 Owner's Manual, Request data "
                    "(https://www.easymanua.ls/roland/tr-626/manual?p=90)"});
    // The M1R is the M1's rack version; its exclusive header carries the M1's ID 19H.
    const std::string m1 =
        "KORG M1R Owner's Manual, 3. MIDI EXCLUSIVE FORMAT, p. 125, header F0 42 3n 19 "
        "(https://www.easymanua.ls/korg/m1r/manual?p=125)";
    rows.push_back({"korg-m1-program", "", "KORG M1 Program Parameter Dump Request",
                    "KORG M1: 現在のプログラムのダンプ要求", "F0 42 3{channel} 19 10 F7", {Channel()}, false,
                    m1 + ", (2) PROGRAM PARAMETER DUMP REQUEST 10H"});
    rows.push_back({"korg-m1-combination", "", "KORG M1 Combination Parameter Dump Request",
                    "KORG M1: 現在のコンビネーションのダンプ要求", "F0 42 3{channel} 19 19 F7", {Channel()}, false,
                    m1 + ", (6) COMBINATION PARAMETER DUMP REQUEST 19H"});
    const std::string ds8 =
        "KORG DS-8 manuel d'utilisation, IMPLEMENTATION MIDI, 3. messages exclusifs "
        "(https://manualslib.fr/manual/745225/Korg-Ds-8.html?page=38)";
    rows.push_back({"korg-ds8-voice", "", "KORG DS-8 1 Voice Dump Request", "KORG DS-8: 現在の音色のダンプ要求",
                    "F0 42 3{channel} 13 10 F7", {Channel()}, false, ds8 + ", 1 Voice Dump Request 10H"});
    rows.push_back({"korg-ds8-all", "", "KORG DS-8 All Voice Dump Request", "KORG DS-8: 全音色のダンプ要求",
                    "F0 42 3{channel} 13 1C F7", {Channel()}, false, ds8 + ", All Voice Dump Request 1CH"});
    const std::string dx100 =
        "Yamaha DX100 Owner's Manual, MIDI data format, (5) Dump Request, F0 43 2n 0f F7 with f=3 and f=4 "
        "(http://music.manualsonline.com/manuals/mfg/yamaha/dx100.html?p=53; the same in the DX27 and DX21 "
        "manuals)";
    rows.push_back({"yamaha-dx100-voice", "", "Yamaha DX100 1 Voice Dump Request",
                    "ヤマハ DX100/DX27/DX21: 1 音色 (エディット・バッファ) のダンプ要求", "F0 43 2{channel} 03 F7",
                    {Channel()}, false, dx100});
    rows.push_back({"yamaha-dx100-bank", "", "Yamaha DX100 32 Voice Dump Request",
                    "ヤマハ DX100/DX27/DX21: 32 音色のダンプ要求", "F0 43 2{channel} 04 F7", {Channel()}, false, dx100});
    const std::string k1 =
        "Kawai K1 MIDI implementation as reproduced in the MIDI Tool Box guide (http://discmaster.textfiles.com/"
        "file/111/130%20MIDI%20Tool%20Box.iso/midi_ng/midi.ng/";
    const RequestParameter k1Memory{"memory", "メモリ (0 = 内部, 1 = 外部)", ParameterKind::Byte, 0, 1, 0, {},
                                    Numbering::Decimal, 0};
    rows.push_back({"kawai-k1-patch", "", "Kawai K1 One Block Data Request",
                    "カワイ K1: 1 パッチのダンプ要求", "F0 40 0{channel} 00 00 03 {memory} {program} F7",
                    {Channel(), k1Memory,
                     {"program", "パッチ番号", ParameterKind::Byte, 0, 0x7F, std::nullopt, {}, Numbering::Decimal, 0}},
                    false, k1 + "ngbbb9.html), One Block Data Request"});
    rows.push_back({"kawai-k1-all", "", "Kawai K1 All Block Data Request",
                    "カワイ K1: 全パッチのダンプ要求 (group 00H/20H = シングル, 40H = マルチ)",
                    "F0 40 0{channel} 01 00 03 {memory} {group} F7",
                    {Channel(), k1Memory,
                     {"group", "パッチの種類", ParameterKind::Byte, 0, 0x40, std::nullopt, {0x00, 0x20, 0x40}}},
                    false, k1 + "ng1412f.html), All Block Data Request"});
    const std::string matrix =
        "Oberheim Matrix-1000 Owner's Manual, p. 43, 04H - Request Data "
        "(https://www.easymanua.ls/oberheim/matrix-1000/manual?p=44)";
    rows.push_back({"oberheim-m1000-patch", "", "Oberheim Matrix-1000 Single Patch Request",
                    "オーバーハイム Matrix-1000: 現在のバンクの 1 パッチのダンプ要求", "F0 10 06 04 01 {program} F7",
                    {{"program", "パッチ番号", ParameterKind::Byte, 0, 99, std::nullopt, {}, Numbering::Decimal, 0}}, false,
                    matrix + ", type 1"});
    rows.push_back({"oberheim-m1000-bank", "", "Oberheim Matrix-1000 All Patches Request",
                    "オーバーハイム Matrix-1000: 現在のバンクの全パッチとマスター・パラメータのダンプ要求",
                    "F0 10 06 04 00 00 F7", {}, false, matrix + ", type 0"});
    rows.push_back({"oberheim-m1000-master", "", "Oberheim Matrix-1000 Master Parameters Request",
                    "オーバーハイム Matrix-1000: マスター・パラメータのダンプ要求", "F0 10 06 04 03 00 F7", {}, false,
                    matrix + ", type 3"});
    for (NamedRequest& row : rows) row.manufacturer = MakerOfForm(row.form);
    return rows;
}

struct Token {
    enum Kind { Literal, Whole, Nibble, Lsb, Msb, Many, Open, Sum } kind = Literal;
    std::uint8_t byte = 0;  // Literal; Nibble: the high nibble
    std::string parameter;
};

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The table's forms are ours, so a form that does not read is a fault the tests show.
std::vector<Token> Tokens(std::string_view form, const NamedRequest& request) {
    std::vector<Token> tokens;
    std::size_t at = 0;
    while (at < form.size()) {
        if (form[at] == ' ') {
            ++at;
            continue;
        }
        std::size_t end = form.find(' ', at);
        if (end == std::string_view::npos) end = form.size();
        const std::string_view word = form.substr(at, end - at);
        at = end;
        Token token;
        if (word == "(") {
            token.kind = Token::Open;
        } else if (word == "{sum}") {
            token.kind = Token::Sum;
        } else if (word.size() == 2 && HexDigit(word[0]) >= 0 && HexDigit(word[1]) >= 0) {
            token.byte = static_cast<std::uint8_t>(HexDigit(word[0]) * 16 + HexDigit(word[1]));
        } else {
            std::string_view inner = word;
            if (inner.front() != '{') {
                token.kind = Token::Nibble;
                token.byte = static_cast<std::uint8_t>(HexDigit(inner.front()) << 4);
                inner.remove_prefix(1);
            }
            inner = inner.substr(1, inner.size() - 2);
            std::string name(inner);
            if (name.ends_with(".lsb") || name.ends_with(".msb")) {
                token.kind = name.ends_with(".lsb") ? Token::Lsb : Token::Msb;
                name.resize(name.size() - 4);
            }
            token.parameter = name;
            if (token.kind == Token::Literal) {
                const auto found = std::find_if(request.parameters.begin(), request.parameters.end(),
                                                [&](const RequestParameter& p) { return p.name == name; });
                token.kind = found != request.parameters.end() && found->kind == ParameterKind::Bytes ? Token::Many
                                                                                                      : Token::Whole;
            }
        }
        tokens.push_back(token);
    }
    return tokens;
}

std::uint8_t RolandSum(std::span<const std::uint8_t> bytes) {
    unsigned sum = 0;
    for (const std::uint8_t b : bytes) sum += b;
    return static_cast<std::uint8_t>((128 - sum % 128) % 128);
}

std::string Hex(std::uint32_t value, int digits) {
    std::string text;
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) text += "0123456789ABCDEF"[(value >> shift) & 0xF];
    return text;
}

int Digits(const RequestParameter& p) {
    switch (p.kind) {
        case ParameterKind::Nibble: return 1;
        case ParameterKind::Word14: return 4;
        default: return 2;
    }
}

bool Allowed(const RequestParameter& p, std::uint32_t value) {
    if (!p.choices.empty()) return std::find(p.choices.begin(), p.choices.end(), value) != p.choices.end();
    return value >= p.low && value <= p.high;
}

struct Values {
    std::map<std::string, std::uint32_t> numbers;
    std::map<std::string, std::vector<std::uint8_t>> bytes;
};

std::string ValueProblem(const NamedRequest& request, const RequestParameter& p, const std::string& text) {
    return request.name + " の " + p.name + " (" + p.meaning + ") は " + ParameterRangeText(p) +
           " で指定してください (「" + text + "」)";
}

// Reads one value; a problem names the parameter and its range.
std::string ReadValue(const NamedRequest& request, const RequestParameter& p, const std::string& text, Values& values) {
    if (p.kind == ParameterKind::Bytes) {
        // Bytes as Roland writes them: hexadecimal, two digits a byte.
        const auto digits = HexDigitsOf(text);
        if (!digits) return ValueProblem(request, p, text);
        std::string padded(*digits);
        if (padded.size() % 2 != 0) padded.insert(0, 1, '0');
        std::vector<std::uint8_t> bytes;
        for (std::size_t i = 0; i < padded.size(); i += 2) {
            bytes.push_back(static_cast<std::uint8_t>(HexDigit(padded[i]) * 16 + HexDigit(padded[i + 1])));
        }
        const bool fits = bytes.size() >= p.low && bytes.size() <= p.high &&
                          std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b < 0x80; });
        if (!fits) return ValueProblem(request, p, text);
        values.bytes[p.name] = bytes;
        return {};
    }
    const std::optional<std::uint32_t> number = ReadNumberText(text, p.numbering);
    if (!number || *number < p.first) return ValueProblem(request, p, text);
    const std::uint32_t value = *number - p.first;
    if (!Allowed(p, value)) return ValueProblem(request, p, text);
    values.numbers[p.name] = value;
    return {};
}

// Builds the form's bytes from values already checked.
std::vector<std::uint8_t> Emit(const std::vector<Token>& tokens, const Values& values) {
    std::vector<std::uint8_t> bytes;
    std::size_t open = 0;
    for (const Token& token : tokens) {
        switch (token.kind) {
            case Token::Literal: bytes.push_back(token.byte); break;
            case Token::Whole: bytes.push_back(static_cast<std::uint8_t>(values.numbers.at(token.parameter))); break;
            case Token::Nibble:
                bytes.push_back(static_cast<std::uint8_t>(token.byte | values.numbers.at(token.parameter)));
                break;
            case Token::Lsb: bytes.push_back(static_cast<std::uint8_t>(values.numbers.at(token.parameter) & 0x7F)); break;
            case Token::Msb:
                bytes.push_back(static_cast<std::uint8_t>((values.numbers.at(token.parameter) >> 7) & 0x7F));
                break;
            case Token::Many: {
                const auto& many = values.bytes.at(token.parameter);
                bytes.insert(bytes.end(), many.begin(), many.end());
                break;
            }
            case Token::Open: open = bytes.size(); break;
            case Token::Sum: bytes.push_back(RolandSum(std::span(bytes).subspan(open))); break;
        }
    }
    return bytes;
}

bool WidthsAlike(const NamedRequest& request, const Values& values) {
    if (!request.sameWidth) return true;
    std::size_t width = 0;
    bool first = true;
    for (const RequestParameter& p : request.parameters) {
        if (p.kind != ParameterKind::Bytes || p.name == "model") continue;
        const std::size_t size = values.bytes.at(p.name).size();
        if (!first && size != width) return false;
        width = size;
        first = false;
    }
    return true;
}

// Reads `message` as the form from token `k` and byte `at` on, trying every width of the
// parameters of several bytes; fills `values` when it fits.
bool Match(const NamedRequest& request, const std::vector<Token>& tokens, std::size_t k,
           std::span<const std::uint8_t> message, std::size_t at, std::size_t open, Values& values) {
    if (k == tokens.size()) return at == message.size() && WidthsAlike(request, values);
    const Token& token = tokens[k];
    const auto parameter = [&]() -> const RequestParameter& {
        return *std::find_if(request.parameters.begin(), request.parameters.end(),
                             [&](const RequestParameter& p) { return p.name == token.parameter; });
    };
    if (token.kind == Token::Open) return Match(request, tokens, k + 1, message, at, at, values);
    if (at >= message.size()) return false;
    const std::uint8_t byte = message[at];
    switch (token.kind) {
        case Token::Literal:
            return byte == token.byte && Match(request, tokens, k + 1, message, at + 1, open, values);
        case Token::Sum:
            return byte == RolandSum(message.subspan(open, at - open)) &&
                   Match(request, tokens, k + 1, message, at + 1, open, values);
        case Token::Whole:
        case Token::Nibble: {
            if (token.kind == Token::Nibble && (byte & 0xF0) != token.byte) return false;
            const std::uint32_t value = token.kind == Token::Nibble ? (byte & 0x0Fu) : byte;
            if (!Allowed(parameter(), value)) return false;
            values.numbers[token.parameter] = value;
            return Match(request, tokens, k + 1, message, at + 1, open, values);
        }
        case Token::Lsb:
            if (byte >= 0x80) return false;
            values.numbers[token.parameter] = byte;
            return Match(request, tokens, k + 1, message, at + 1, open, values);
        case Token::Msb: {
            if (byte >= 0x80) return false;
            const std::uint32_t value = values.numbers[token.parameter] | (std::uint32_t{byte} << 7);
            if (!Allowed(parameter(), value)) return false;
            values.numbers[token.parameter] = value;
            return Match(request, tokens, k + 1, message, at + 1, open, values);
        }
        case Token::Many: {
            const RequestParameter& p = parameter();
            for (std::size_t width = p.low; width <= p.high && at + width <= message.size(); ++width) {
                const auto run = message.subspan(at, width);
                if (std::any_of(run.begin(), run.end(), [](std::uint8_t b) { return b >= 0x80; })) break;
                values.bytes[token.parameter].assign(run.begin(), run.end());
                if (Match(request, tokens, k + 1, message, at + width, open, values)) return true;
            }
            return false;
        }
        default: return false;
    }
}

std::string ByteList(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    for (const std::uint8_t b : bytes) text += (text.empty() ? "" : " ") + HexByte(b) + "H";
    return text;
}

}  // namespace

const std::vector<NamedRequest>& NamedRequests() {
    static const std::vector<NamedRequest> table = MakeTable();
    return table;
}

const NamedRequest* FindNamedRequest(std::string_view name) {
    for (const NamedRequest& request : NamedRequests()) {
        if (request.name == name) return &request;
    }
    return nullptr;
}

std::string ParameterValueText(const RequestParameter& parameter, std::uint32_t value) {
    if (parameter.numbering == Numbering::Decimal) return std::to_string(value + parameter.first);
    return Hex(value, Digits(parameter)) + "H";
}

std::string ParameterRangeText(const RequestParameter& parameter) {
    if (parameter.kind == ParameterKind::Bytes) {
        return std::to_string(parameter.low) + "-" + std::to_string(parameter.high) + " バイト (各 00H-7FH)";
    }
    if (!parameter.choices.empty()) {
        std::string text;
        for (const std::uint32_t choice : parameter.choices) {
            text += (text.empty() ? "" : ", ") + ParameterValueText(parameter, choice);
        }
        return text;
    }
    return ParameterValueText(parameter, parameter.low) + "-" + ParameterValueText(parameter, parameter.high);
}

BuiltRequest BuildNamedRequest(const NamedRequest& request,
                               const std::vector<std::pair<std::string, std::string>>& given) {
    BuiltRequest built;
    Values values;
    std::vector<std::string> seen;
    for (const auto& [name, text] : given) {
        const auto found = std::find_if(request.parameters.begin(), request.parameters.end(),
                                        [&name = name](const RequestParameter& p) { return p.name == name; });
        if (found == request.parameters.end()) {
            std::string names;
            for (const RequestParameter& p : request.parameters) names += (names.empty() ? "" : ", ") + p.name;
            built.problem = request.name + " に " + name + " というパラメータはありません" +
                            (names.empty() ? std::string(" (パラメータなし)") : " (" + names + ")");
            return built;
        }
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) {
            built.problem = request.name + " の " + name + " が 2 回指定されています";
            return built;
        }
        seen.push_back(name);
        built.problem = ReadValue(request, *found, text, values);
        if (!built.problem.empty()) return built;
    }
    for (const RequestParameter& p : request.parameters) {
        if (std::find(seen.begin(), seen.end(), p.name) != seen.end()) continue;
        if (!p.byDefault) {
            built.problem = request.name + " には " + p.name + " (" + p.meaning + ", " + ParameterRangeText(p) +
                            ") の指定が必要です";
            return built;
        }
        values.numbers[p.name] = *p.byDefault;
    }
    if (!WidthsAlike(request, values)) {
        built.problem = request.name + " の address と size は同じバイト数で指定してください";
        return built;
    }
    built.bytes = Emit(Tokens(request.form, request), values);
    return built;
}

BuiltRequest BuildNamedRequest(std::string_view name, const std::vector<std::string>& assignments) {
    const NamedRequest* request = FindNamedRequest(name);
    if (!request) {
        return {{}, "「" + std::string(name) + "」という名前の要求はありません (一覧は kelvane-cli requests)"};
    }
    std::vector<std::pair<std::string, std::string>> given;
    for (const std::string& assignment : assignments) {
        const std::size_t equals = assignment.find('=');
        if (equals == std::string::npos || equals == 0) {
            return {{}, "「" + assignment + "」はパラメータ=値 の形ではありません"};
        }
        given.emplace_back(assignment.substr(0, equals), assignment.substr(equals + 1));
    }
    return BuildNamedRequest(*request, given);
}

std::optional<std::string> NamedRequestMeaning(std::span<const std::uint8_t> message) {
    for (const NamedRequest& request : NamedRequests()) {
        Values values;
        if (!Match(request, Tokens(request.form, request), 0, message, 0, 0, values)) continue;
        if (values.bytes.count("address") && values.bytes.count("size")) {
            std::uint32_t size = 0;
            for (const std::uint8_t b : values.bytes["size"]) size = size * 128 + b;
            return request.title + " address " + ByteList(values.bytes["address"]) + ", size " +
                   ByteList(values.bytes["size"]) + " (" + std::to_string(size) + " bytes)";
        }
        std::string text = request.title;
        std::string parameters;
        for (const RequestParameter& p : request.parameters) {
            if (p.kind == ParameterKind::Bytes) continue;
            parameters += (parameters.empty() ? "" : ", ") + p.name + " " + ParameterValueText(p, values.numbers[p.name]);
        }
        if (!parameters.empty()) text += " (" + parameters + ")";
        return text;
    }
    return std::nullopt;
}

}  // namespace sysex
