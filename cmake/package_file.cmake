# Prepares one file for a package, at build time.
#   cmake -DMODE=text -DIN=<file> -DOUT=<file> -P package_file.cmake
#     copies a text file with CR LF line ends (the Windows package);
#   cmake -DMODE=man-text -DGROFF=<groff> -DIN=<page.1> -DOUT=<file> -P package_file.cmake
#     renders a manual page as plain text with CR LF line ends;
#   cmake -DMODE=gzip -DIN=<file> -DOUT=<file.gz> -P package_file.cmake
#     compresses as Debian wants it: gzip -9, no name or time stamp inside.
cmake_minimum_required(VERSION 3.20)

if(MODE STREQUAL "text" OR MODE STREQUAL "man-text")
  if(MODE STREQUAL "text")
    file(READ "${IN}" content)
  else()
    # Plain ASCII without overstriking, bold or underlining.
    execute_process(COMMAND "${GROFF}" -man -Tascii -P-cbou "${IN}"
      OUTPUT_VARIABLE content ERROR_VARIABLE problems RESULT_VARIABLE result)
    if(NOT result EQUAL 0 OR problems)
      message(FATAL_ERROR "groff could not render ${IN}: ${result} ${problems}")
    endif()
    string(REGEX REPLACE "\n\n\n+" "\n\n" content "${content}")
  endif()
  string(REPLACE "\r\n" "\n" content "${content}")
  string(REPLACE "\n" "\r\n" content "${content}")
  file(WRITE "${OUT}" "${content}")
elseif(MODE STREQUAL "gzip")
  execute_process(COMMAND gzip -9nc "${IN}" OUTPUT_FILE "${OUT}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "gzip failed on ${IN}")
  endif()
else()
  message(FATAL_ERROR "package_file.cmake: unknown MODE '${MODE}'")
endif()
