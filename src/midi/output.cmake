# MIDI output: the port logic, the shared queueing port and the platform's backends.
list(APPEND KELVANE_MIDI_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/OutputService.h
  ${CMAKE_CURRENT_LIST_DIR}/BackendFailure.h ${CMAKE_CURRENT_LIST_DIR}/BackendFailure.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QueuedPort.h ${CMAKE_CURRENT_LIST_DIR}/QueuedPort.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ListedOutputService.h
  ${CMAKE_CURRENT_LIST_DIR}/CombinedOutput.h ${CMAKE_CURRENT_LIST_DIR}/CombinedOutput.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WirePacer.h
  ${CMAKE_CURRENT_LIST_DIR}/Port.h ${CMAKE_CURRENT_LIST_DIR}/Port.cpp)

find_package(Threads REQUIRED)
list(APPEND KELVANE_MIDI_LIBS Threads::Threads)

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(KELVANE_ALSA REQUIRED IMPORTED_TARGET alsa)
  pkg_check_modules(KELVANE_JACK REQUIRED IMPORTED_TARGET jack)
  list(APPEND KELVANE_MIDI_SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/AlsaOutput.h ${CMAKE_CURRENT_LIST_DIR}/AlsaOutput.cpp
    ${CMAKE_CURRENT_LIST_DIR}/JackOutput.h ${CMAKE_CURRENT_LIST_DIR}/JackOutput.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PlatformOutputLinux.cpp)
  list(APPEND KELVANE_MIDI_LIBS PkgConfig::KELVANE_ALSA PkgConfig::KELVANE_JACK)
elseif(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/output_win.cmake)
endif()
