// kelvane-cli: list, inspect, export and send SysEx dumps from scripts (see --help).

#include <chrono>
#include <iostream>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "cli/Terminal.h"
#include "midi/OutputService.h"
#include "midi/Port.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args = cli::ProgramArguments(argc, argv);
    const cli::StreamTexts texts = cli::StreamTextsFor(args);
    cli::PrepareConsole(texts.out, texts.err);
    const int code = cli::Run(args, std::cout, std::cerr, cli::StderrIsTerminal());
    // Ports and sound-server clients close on threads of their own; let them finish before the
    // process goes, but never keep a script waiting long for a server that does not answer.
    // After Ctrl+C the send has given its port all the time it gets (Transmission's
    // CancelledPortLimit) already.
    midi::MidiOutHandle.reset();
    midi::WaitForClosedPorts(code == cli::ExitCancelled ? std::chrono::milliseconds(200) : std::chrono::seconds(2));
    return code;
}
