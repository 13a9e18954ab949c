# The port settings and the store that keeps them: the Windows registry on Windows, a
# regedit-format file elsewhere.
list(APPEND KELVANE_MIDI_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/Settings.cpp ${CMAKE_CURRENT_LIST_DIR}/Settings.h
  ${CMAKE_CURRENT_LIST_DIR}/RegistryStore.h
)
if(WIN32)
  # settings_win.cmake adds WinRegistryStore and PlatformRegistryStore_win.cpp (with advapi32).
  include(${CMAKE_CURRENT_LIST_DIR}/settings_win.cmake OPTIONAL)
else()
  list(APPEND KELVANE_MIDI_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/PlatformRegistryStore_posix.cpp
    ${CMAKE_CURRENT_LIST_DIR}/RegFileStore.cpp ${CMAKE_CURRENT_LIST_DIR}/RegFileStore.h
    ${CMAKE_CURRENT_LIST_DIR}/RegText.cpp ${CMAKE_CURRENT_LIST_DIR}/RegText.h
  )
endif()
