# Installs the program into a fresh prefix and checks that it looks for libraries in its own folder, where
# users drop the NDI runtime. Run with -DBUILD_DIR=... -DPREFIX=...
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE installed OUTPUT_QUIET)
if(NOT installed EQUAL 0)
  message(FATAL_ERROR "the install failed (${installed})")
endif()
execute_process(COMMAND readelf -d "${PREFIX}/bin/ombry" OUTPUT_VARIABLE dynamic RESULT_VARIABLE read)
file(REMOVE_RECURSE "${PREFIX}")
if(NOT read EQUAL 0)
  message(FATAL_ERROR "the installed program cannot be read")
endif()
if(NOT dynamic MATCHES "R(UN)?PATH[^\n]*\\[\\$ORIGIN\\]")
  message(FATAL_ERROR "the installed program does not search its own folder:\n${dynamic}")
endif()
