#pragma once
// Failure texts that only the command line needs: the window never meets a message number or
// a port number typed by hand. In the UI's language, like every text a user reads.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cli {

// A message number that is 0 or beyond the stored messages.
std::string MessageOutOfRangeText(std::uint32_t number, int storedCount);
// A --messages list beyond what one send takes: too many messages, or too many bytes together.
std::string TooManyMessagesText(std::uint64_t selected, std::uint64_t limit);
std::string TooManyBytesText(std::uint64_t selected, std::uint64_t limit);
// A --messages list of export or join beyond what one file holds.
std::string TooManyToWriteText(std::uint64_t selected, std::uint64_t limit);

// A port number beyond the selector's entries; deviceCount may be 0.
std::string PortOutOfRangeText(std::uint32_t port, std::size_t deviceCount);

// send with port 0, the "(None)" entry: there would be nothing to send to.
std::string NoPortText();

// The port exists but refused to open.
std::string PortOpenFailedText(std::uint32_t port, const std::string& name, int code);

// The port still held unsent messages when the wait for them ended.
std::string SendUnfinishedText(std::uint32_t port);

// send stopped by Ctrl+C: how many of the messages went out whole.
std::string SendCancelledText(std::size_t sent, std::size_t total);
// Messages that went out while the port missed its sound server's cycles, by number (from 1).
std::string SendInDoubtText(const std::vector<int>& numbers);

// receive with input port 0, the "(None)" entry.
std::string NoInputPortText();

// An input port number beyond the input entries; deviceCount may be 0.
std::string InputPortOutOfRangeText(std::uint32_t port, std::size_t deviceCount);

// The input port exists but refused to open.
std::string InputPortOpenFailedText(std::uint32_t port, const std::string& name, int code);

// check --fix: how many checksums the copy has corrected, and where it went.
std::string FixedText(std::size_t fixed, const std::string& path);
// check --fix: the file no longer holds what was checked.
std::string FileChangedText(const std::string& path);

// receive: the target refused its temporary file, so nothing was recorded.
std::string TargetUnwritableText(const std::string& path, const std::string& reason);

// receive: the target refused the capture at the end, and so did every recovery folder.
std::string CaptureLostText(const std::string& path, const std::string& reason);

// receive: the target refused the capture at the end; it is in `recovery` instead.
std::string CaptureSavedElsewhereText(const std::string& path, const std::string& reason,
                                      const std::string& recovery);

// identify: no Identity Reply came in within the wait.
std::string NoIdentityReplyText(const std::string& output, const std::string& input, std::uint32_t waitMs);
// Something came back, but no valid Identity Reply.
std::string MalformedIdentityReplyText(const std::string& output, const std::string& input);

// Standard output could not take the result (a full disk, a closed pipe).
std::string StdoutFailedText();

}  // namespace cli
