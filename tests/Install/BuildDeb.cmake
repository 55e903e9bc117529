# cmake -DCPACK=<cpack> -DCONFIG=<CPackConfig.cmake> -DOUT=<folder> -P BuildDeb.cmake: a fresh .deb in OUT.
file(REMOVE_RECURSE "${OUT}")
execute_process(COMMAND "${CPACK}" -G DEB --config "${CONFIG}" -B "${OUT}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cpack -G DEB failed (${rc})")
endif()
