# Writes the files of a folder into a C++ include as byte arrays:
#   cmake -DDIR=folder -DOUT=file.inc -DNAME=kArrayName -P embed_files.cmake
# Gives struct EmbeddedFile { const wchar_t* szName; const uint8_t* pData; size_t nSize; } and
# the array NAME of all of them.
file(GLOB _files RELATIVE ${DIR} ${DIR}/*)
list(SORT _files)
set(_out "// Generated from ${DIR}; do not edit.\nstruct EmbeddedFile {\n    const wchar_t* szName;\n    const uint8_t* pData;\n    size_t nSize;\n};\n")
set(_table "")
set(_i 0)
foreach(_f IN LISTS _files)
  file(READ ${DIR}/${_f} _hex HEX)
  file(SIZE ${DIR}/${_f} _size)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
  string(APPEND _out "constexpr uint8_t kEmbedded${_i}[] = {${_bytes}};\n")
  string(APPEND _table "    {L\"${_f}\", kEmbedded${_i}, ${_size}},\n")
  math(EXPR _i "${_i} + 1")
endforeach()
string(APPEND _out "constexpr EmbeddedFile ${NAME}[] = {\n${_table}};\n")
file(WRITE ${OUT}.tmp "${_out}")
file(RENAME ${OUT}.tmp ${OUT})
