// libFuzzer target for the settings file's text: whatever a file holds that reads as a document
// must format to text that reads back as the same document, which formats to the same text
// again; and a value put into it must be found after that round trip, with the rest unchanged.
//
// Input: the file's bytes. Its last byte (when there are two or more) also picks the value put.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "settings/RegText.h"

namespace {

constexpr std::string_view Key = "HKEY_CURRENT_USER\\ZORVIK";

// Names the failed comparison: the crash file alone does not say which one it was.
#define Check(condition) CheckAt(condition, #condition, __LINE__)

void CheckAt(bool condition, const char* text, int line) {
    if (condition) return;
    std::fprintf(stderr, "check failed at line %d: %s\n", line, text);
    std::abort();
}

bool SameValue(const settings::RegValue* a, const settings::RegValue* b) {
    if (a == nullptr || b == nullptr) return a == b;
    return a->name == b->name && a->type == b->type && a->data == b->data;
}

// Lines, kinds, values and encoding: everything a reader can see.
void CheckSameDocument(const settings::RegDocument& a, const settings::RegDocument& b) {
    Check(a.header == b.header && a.newline == b.newline && a.encoding == b.encoding);
    Check(a.lines.size() == b.lines.size());
    for (std::size_t i = 0; i < a.lines.size(); ++i) {
        const auto& x = a.lines[i];
        const auto& y = b.lines[i];
        Check(x.kind == y.kind && x.physical == y.physical && x.keyPath == y.keyPath);
        if (x.kind == settings::RegLine::Kind::Value) Check(SameValue(&x.value, &y.value));
        if (x.kind == settings::RegLine::Kind::Unreadable) Check(x.value.name == y.value.name);
    }
}

settings::RegDocument RoundTrip(const settings::RegDocument& document) {
    const std::string text = settings::FormatRegText(document);
    const auto again = settings::ParseRegText(text);
    Check(again.has_value());
    Check(settings::FormatRegText(*again) == text);
    return *again;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto document = settings::ParseRegText(text);
    if (!document) return 0;
    const settings::RegDocument again = RoundTrip(*document);
    CheckSameDocument(*document, again);
    for (const char* name : {"KELV_In", "KELV_Out"}) {
        Check(SameValue(settings::FindValue(*document, Key, name), settings::FindValue(again, Key, name)));
    }

    // A value put by the store: one of its own names, a type and bytes taken from the input.
    if (size < 2) return 0;
    const std::uint8_t pick = data[size - 1];
    settings::RegValue value;
    value.name = (pick & 1) != 0 ? "KELV_Out" : "KELV_In";
    value.type = pick % 12;
    value.data.assign(data, data + std::min<std::size_t>(size - 1, pick));
    const settings::RegValue* otherBefore = settings::FindValue(*document, Key, (pick & 1) != 0 ? "KELV_In" : "KELV_Out");
    const settings::RegValue otherCopy = otherBefore ? *otherBefore : settings::RegValue{};
    settings::RegDocument changed = *document;
    settings::PutValue(changed, Key, value);
    const settings::RegDocument saved = RoundTrip(changed);
    Check(SameValue(settings::FindValue(saved, Key, value.name), &value));
    const settings::RegValue* otherAfter = settings::FindValue(saved, Key, (pick & 1) != 0 ? "KELV_In" : "KELV_Out");
    Check(SameValue(otherBefore ? &otherCopy : nullptr, otherAfter));
    return 0;
}
