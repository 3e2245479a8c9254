# The events' ids and texts have one source, src/logging/event_messages.mc:
# windmc compiles it into the Windows executable's message table, which Event
# Viewer reads, and the same texts are turned here into a table that the
# scheduler formats for syslog, and its ids into the constants of events.h
# (MSG_ENGINE_STARTED becomes kEventEngineStarted).
#
#   corvana_event_texts(<library>)        the table and the ids, on every build
#   corvana_event_message_table(<target>) the message table, on Windows
set(CORVANA_EVENT_MESSAGES ${CMAKE_CURRENT_LIST_DIR}/../src/logging/event_messages.mc)
set(CORVANA_EVENT_DIR ${CMAKE_BINARY_DIR}/generated/events)

# MSG_ENGINE_STARTED -> kEventEngineStarted
function(corvana_event_constant symbol out)
  string(REGEX REPLACE "^MSG_" "" words "${symbol}")
  string(TOLOWER "${words}" words)
  string(REPLACE "_" ";" words "${words}")
  set(name kEvent)
  foreach(word IN LISTS words)
    string(SUBSTRING "${word}" 0 1 first)
    string(TOUPPER "${first}" first)
    string(SUBSTRING "${word}" 1 -1 rest)
    string(APPEND name "${first}${rest}")
  endforeach()
  set(${out} ${name} PARENT_SCOPE)
endfunction()

function(corvana_event_texts library)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CORVANA_EVENT_MESSAGES})
  file(READ ${CORVANA_EVENT_MESSAGES} mc_text)
  string(REGEX MATCHALL "MessageId=[0-9]+\nSymbolicName=[A-Z_]+\nLanguage=English\n[^\n]*\n"
         entries "${mc_text}")
  string(REGEX MATCHALL "MessageId=" ids "${mc_text}")
  list(LENGTH ids id_count)
  list(LENGTH entries entry_count)
  if(NOT id_count EQUAL entry_count)
    message(FATAL_ERROR "event_messages.mc: a text spans lines or holds a semicolon")
  endif()
  set(generated "// Generated from event_messages.mc by cmake/event_messages.cmake.\n")
  set(table "${generated}")
  set(constants "${generated}")
  foreach(entry IN LISTS entries)
    string(REGEX MATCH "MessageId=([0-9]+)\nSymbolicName=([A-Z_]+)\nLanguage=English\n([^\n]*)\n"
           matched "${entry}")
    set(id ${CMAKE_MATCH_1})
    set(text "${CMAKE_MATCH_3}")
    corvana_event_constant(${CMAKE_MATCH_2} constant)
    string(APPEND table "{${id}, \"${text}\"},\n")
    string(APPEND constants "inline constexpr uint32_t ${constant} = ${id};\n")
  endforeach()
  file(MAKE_DIRECTORY ${CORVANA_EVENT_DIR})
  file(CONFIGURE OUTPUT ${CORVANA_EVENT_DIR}/event_texts.inc CONTENT "${table}" @ONLY)
  file(CONFIGURE OUTPUT ${CORVANA_EVENT_DIR}/event_ids.inc CONTENT "${constants}" @ONLY)
  # events.h includes the ids, and everything that reports reads them there.
  target_include_directories(${library} PUBLIC ${CORVANA_EVENT_DIR})
endfunction()

function(corvana_event_message_table target)
  if(NOT WIN32)
    return()
  endif()
  string(REPLACE windres windmc mc_compiler ${CMAKE_RC_COMPILER})
  find_program(CORVANA_MC_COMPILER NAMES ${mc_compiler} windmc REQUIRED)
  set(rc_file ${CORVANA_EVENT_DIR}/event_messages.rc)
  add_custom_command(
    OUTPUT ${rc_file} ${CORVANA_EVENT_DIR}/MSG00409.bin
    COMMAND ${CORVANA_MC_COMPILER} -r ${CORVANA_EVENT_DIR} -h ${CORVANA_EVENT_DIR}
            ${CORVANA_EVENT_MESSAGES}
    DEPENDS ${CORVANA_EVENT_MESSAGES}
    WORKING_DIRECTORY ${CORVANA_EVENT_DIR}
    VERBATIM)
  target_sources(${target} PRIVATE ${rc_file})
  # windres finds the compiled table beside the .rc only through -I.
  set_source_files_properties(${rc_file} PROPERTIES
    COMPILE_OPTIONS "-I${CORVANA_EVENT_DIR}"
    OBJECT_DEPENDS ${CORVANA_EVENT_DIR}/MSG00409.bin)
endfunction()
