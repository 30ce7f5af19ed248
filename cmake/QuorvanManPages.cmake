# Manual pages from each program's --help, made at build time by help2man when it is installed,
# into build/man/man1, and installed with the programs. quorvan answers no --help and has none.

set(QUORVAN_MAN_NAME_besselmap "3-D density map of a helix by Fourier-Bessel synthesis from its layer lines")
set(QUORVAN_MAN_NAME_crestfind "amplitude maxima of the layer lines of a point-list layer-line file")
set(QUORVAN_MAN_NAME_curvematch "align gridded layer-line data sets by a refined grid search")
set(QUORVAN_MAN_NAME_gridscan "align point-list layer-line data sets by a phase-residual grid search")
set(QUORVAN_MAN_NAME_helixft "transform of a helical particle image for sidesplit")
set(QUORVAN_MAN_NAME_helixsim "synthetic helical particle: transform, sidesplit deck and gridded layer lines")
set(QUORVAN_MAN_NAME_jtable "layer lines and Bessel orders allowed by a helical selection rule")
set(QUORVAN_MAN_NAME_layermean "average aligned layer-line data sets in the frame of their reference")
set(QUORVAN_MAN_NAME_linerecast "rewrite a point-list layer-line file as a listing")
set(QUORVAN_MAN_NAME_mapconvert "rewrite foreign and old-style map image files as native maps")
set(QUORVAN_MAN_NAME_mapflat "project a 3-D map image along y")
set(QUORVAN_MAN_NAME_mapfsc "Fourier shell correlation of two maps and their resolution")
set(QUORVAN_MAN_NAME_mapsig "Student t-statistic map from the mean and deviation maps of two sets")
set(QUORVAN_MAN_NAME_recode "add 180 degrees to every phase of a point-list layer-line file")
set(QUORVAN_MAN_NAME_sidesplit "sample the near and far sides of the layer lines of a transform image")
set(QUORVAN_MAN_NAME_spotrecast "convert a reflection list into a point-list layer-line file")

find_program(HELP2MAN help2man)
get_property(quorvan_programs GLOBAL PROPERTY QUORVAN_PROGRAMS)
if(HELP2MAN AND quorvan_programs)
  set(man_dir ${CMAKE_BINARY_DIR}/man/man1)
  file(MAKE_DIRECTORY ${man_dir})
  set(pages)
  foreach(prog ${quorvan_programs})
    if(prog STREQUAL "quorvan")
      continue()
    endif()
    if(DEFINED QUORVAN_MAN_NAME_${prog})
      set(summary "${QUORVAN_MAN_NAME_${prog}}")
    else()
      set(summary "${prog} of the Quorvan layer-line suite")
    endif()
    set(page ${man_dir}/${prog}.1)
    add_custom_command(OUTPUT ${page}
      COMMAND ${HELP2MAN} --no-info --section=1 --source=Quorvan "--name=${summary}" --output=${page}
              "--version-string=${prog} (Quorvan) ${PROJECT_VERSION}"
              $<TARGET_FILE:${prog}>
      DEPENDS ${prog}
      COMMENT "Manual page ${prog}.1"
      VERBATIM)
    list(APPEND pages ${page})
  endforeach()
  add_custom_target(manpages ALL DEPENDS ${pages})
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
elseif(NOT HELP2MAN)
  message(STATUS "help2man not found: no manual pages (scripts/setup installs it)")
endif()
