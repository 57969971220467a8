# Builds each floor probe (target|header|up or down) and fails unless every
# "down" probe builds and every "up" probe fails because its header is not
# found. Any other failure of an "up" probe is no proof and fails too.
set(wrong "")
foreach(probe IN LISTS PROBES)
  string(REPLACE "|" ";" fields "${probe}")
  list(GET fields 0 target)
  list(GET fields 1 header)
  list(GET fields 2 direction)
  execute_process(COMMAND ${CMAKE_COMMAND} --build ${BUILD_DIR} --target ${target}
                  RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output
                  TIMEOUT 120)
  string(REGEX MATCH "${header}: No such file or directory" not_found "${output}")
  if(direction STREQUAL "down" AND NOT status EQUAL 0)
    string(APPEND wrong "${target}: including ${header} from below should build:\n${output}\n")
  elseif(direction STREQUAL "up" AND (status EQUAL 0 OR NOT not_found))
    string(APPEND wrong "${target}: including ${header} from below it should fail for want of the header (status ${status}):\n${output}\n")
  else()
    message(STATUS "${direction}: ${target}")
  endif()
endforeach()
if(wrong)
  message(FATAL_ERROR "${wrong}")
endif()
