# The MIDI output on Windows: WinMM.
list(APPEND KELVANE_MIDI_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/WinMmOutput.h ${CMAKE_CURRENT_LIST_DIR}/WinMmOutput.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PlatformOutputWin.cpp
)
list(APPEND KELVANE_MIDI_LIBS winmm)
