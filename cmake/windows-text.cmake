# windows_text_file(<source> <output> [BOM]): a copy of a text file with CRLF line ends and,
# with BOM, a UTF-8 byte-order mark, which older Notepad needs to read UTF-8 text.
# Remade when the source changes.
function(windows_text_file source output)
  cmake_parse_arguments(W "BOM" "" "" ${ARGN})
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${source})
  file(READ ${source} content)
  string(REPLACE "\r\n" "\n" content "${content}")
  string(REPLACE "\n" "\r\n" content "${content}")
  if(W_BOM)
    string(ASCII 239 187 191 bom)
    string(PREPEND content "${bom}")
  endif()
  # Written beside and copied only when different, so that an unchanged guide rebuilds nothing.
  file(WRITE ${output}.new "${content}")
  file(COPY_FILE ${output}.new ${output} ONLY_IF_DIFFERENT)
  file(REMOVE ${output}.new)
endfunction()
