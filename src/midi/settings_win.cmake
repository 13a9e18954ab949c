# The settings store on Windows: the registry itself.
list(APPEND KELVANE_MIDI_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/WinRegistryStore.h ${CMAKE_CURRENT_LIST_DIR}/WinRegistryStore.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PlatformRegistryStore_win.cpp
)
list(APPEND KELVANE_MIDI_LIBS advapi32)
