# The events' texts have one source, src/logging/event_messages.mc: windmc
# compiles it into the Windows executable's message table, which Event
# Viewer reads, and the same texts are turned here into a table that the
# scheduler formats for syslog.
#
#   corvana_event_texts(<library>)        the table, on every build
#   corvana_event_message_table(<target>) the message table, on Windows
set(CORVANA_EVENT_MESSAGES ${CMAKE_CURRENT_LIST_DIR}/../src/logging/event_messages.mc)
set(CORVANA_EVENT_DIR ${CMAKE_BINARY_DIR}/generated/events)

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
  set(table "// Generated from event_messages.mc by cmake/event_messages.cmake.\n")
  foreach(entry IN LISTS entries)
    string(REGEX REPLACE "MessageId=([0-9]+)\nSymbolicName=[A-Z_]+\nLanguage=English\n([^\n]*)\n"
           "{\\1, \"\\2\"},\n" line "${entry}")
    string(APPEND table "${line}")
  endforeach()
  file(MAKE_DIRECTORY ${CORVANA_EVENT_DIR})
  file(CONFIGURE OUTPUT ${CORVANA_EVENT_DIR}/event_texts.inc CONTENT "${table}" @ONLY)
  target_include_directories(${library} PRIVATE ${CORVANA_EVENT_DIR})
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
