#pragma once
// What the save command says instead of saving when the store holds no message. The window
// shows it as a notice, so it gets no full stop; the command line prints it the same way.

namespace sysex {

inline constexpr char NoDataText[] = "データが記録されておりません";

}  // namespace sysex
