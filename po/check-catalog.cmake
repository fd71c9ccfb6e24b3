# Extracts the texts passed to Translate (and the error table's ErrorText) from the sources and
# fails when the catalog PO lacks a translation of any of them.
file(GLOB_RECURSE _sources ${SOURCE_DIR}/src/*.cpp ${SOURCE_DIR}/src/*.h ${SOURCE_DIR}/tools/*.cpp)
set(_with_texts)
foreach(_src ${_sources})
  file(STRINGS ${_src} _hits REGEX "(Translate|ErrorText)\\(")
  if(_hits)
    list(APPEND _with_texts ${_src})
  endif()
endforeach()
execute_process(COMMAND ${XGETTEXT} -C --from-code=UTF-8 -kTranslate -kErrorText --omit-header -o ${POT} ${_with_texts}
                RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "xgettext failed")
endif()
execute_process(COMMAND ${MSGCMP} ${PO} ${POT} RESULT_VARIABLE _rc)
if(NOT _rc EQUAL 0)
  message(FATAL_ERROR "${PO} lacks translations (see above)")
endif()
