# Creates the Wine prefix named by $WINEPREFIX once, without any dialog, and
# leaves an existing one alone. Run with `cmake -DWINEBOOT=... -P`.
if(NOT DEFINED ENV{WINEPREFIX})
  message(FATAL_ERROR "WINEPREFIX is not set")
endif()
if(EXISTS "$ENV{WINEPREFIX}/system.reg")
  return()
endif()
execute_process(COMMAND "${WINEBOOT}" --init
                TIMEOUT 300
                RESULT_VARIABLE result
                OUTPUT_QUIET ERROR_QUIET)
if(NOT result EQUAL 0 OR NOT EXISTS "$ENV{WINEPREFIX}/system.reg")
  message(FATAL_ERROR "wineboot --init failed (${result}) for $ENV{WINEPREFIX}")
endif()
