# Helpers shared by every folder of the suite.

# quorvan_library(<name> [SOURCES ...] [DEPS ...])
# A static library of lib/<name> (header-only without SOURCES); its headers are included as
# "<name>/<header>.hpp".
function(quorvan_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(ARG_SOURCES)
    add_library(${name} STATIC ${ARG_SOURCES})
    set(scope PUBLIC)
  else()
    add_library(${name} INTERFACE)
    set(scope INTERFACE)
  endif()
  add_library(quorvan::${name} ALIAS ${name})
  target_compile_features(${name} ${scope} cxx_std_20)
  target_include_directories(${name} ${scope}
    $<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/lib>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/quorvan>)
  if(ARG_DEPS)
    target_link_libraries(${name} ${scope} ${ARG_DEPS})
  endif()
  install(TARGETS ${name} EXPORT quorvanTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quorvan/${name}
          FILES_MATCHING PATTERN "*.hpp")
endfunction()

# quorvan_program(<name> [SOURCES ...] [DEPS ...])
# src/<name>/<name>.cpp (and any further SOURCES) form the library <name>_logic that tests link;
# src/<name>/main.cpp is the thin executable build/bin/<name>.
function(quorvan_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name}_logic STATIC ${name}.cpp ${ARG_SOURCES})
  target_include_directories(${name}_logic PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name}_logic PUBLIC progmain ${ARG_DEPS})
  add_executable(${name} main.cpp)
  target_link_libraries(${name} PRIVATE ${name}_logic)
  install(TARGETS ${name} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set_property(GLOBAL APPEND PROPERTY QUORVAN_PROGRAMS ${name})
endfunction()

# quorvan_lane_units(<out-var> <avx2-source> <avx512-source>)
# The units of a fast kernel built for the wider vectors of x86-64 (nothing elsewhere): each
# compiled for its own processor (AVX2 without -mfma), and with -ffp-contract=off like every unit,
# so that no sum is contracted. The program picks among them at run time.
function(quorvan_lane_units out avx2 avx512)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    set_source_files_properties(${avx2} PROPERTIES COMPILE_OPTIONS "-mavx2;-mno-fma")
    set_source_files_properties(${avx512} PROPERTIES COMPILE_OPTIONS "-mavx512f")
    set(${out} ${avx2} ${avx512} PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()
