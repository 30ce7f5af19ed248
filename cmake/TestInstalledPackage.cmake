# Run by CTest (cmake -P): installs the build into a fresh prefix, builds the example program of
# examples/linking against the installed package alone, and runs it.
# Variables: BUILD_DIR, SOURCE_DIR, WORK_DIR, BUILD_TYPE, EXTRA_FLAGS (sanitizer builds).
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/run)

function(step what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
endfunction()

step("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${WORK_DIR}/prefix)
step("configure the example" ${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples/linking -B ${WORK_DIR}/build
     -DCMAKE_PREFIX_PATH=${WORK_DIR}/prefix -DCMAKE_BUILD_TYPE=${BUILD_TYPE}
     "-DCMAKE_CXX_FLAGS=${EXTRA_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${EXTRA_FLAGS}")
step("build the example" ${CMAKE_COMMAND} --build ${WORK_DIR}/build)

execute_process(COMMAND ${WORK_DIR}/build/smoothfit WORKING_DIRECTORY ${WORK_DIR}/run
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "smoothfit failed (${rc}):\n${out}\n${err}")
endif()
# y = 2.04 + 0.48 x is the least-squares line of its five points; residual sizes
# 0.12, 0.10, 0.08, 0.06, 0.04 belong to points 2, 3, 4, 1, 5.
foreach(want "smoothfit: line a =   2.040, b =   0.480 from 2 eigenvectors"
             "smoothfit: points by residual size: 2 3 4 1 5"
             "BIGFILT: # Lines, Loads for passes 1,2: ")
  string(FIND "${out}" "${want}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "smoothfit did not write \"${want}\":\n${out}")
  endif()
endforeach()
if(NOT EXISTS ${WORK_DIR}/run/smooth.map)
  message(FATAL_ERROR "smoothfit wrote no smooth.map")
endif()
message(STATUS "${out}")
