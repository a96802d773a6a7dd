# What a shipped Windows executable carries, so that antivirus products and
# a player who finds it in Task Manager can tell what it is, and so that a
# crash of the executable itself can still be symbolised:
#   - version information (VERSIONINFO): product and file version from the
#     project's version, the company, product and description from the
#     cache variables below;
#   - an application manifest: asInvoker, Windows 7 to 11 supported, long
#     paths, UTF-8 as the ANSI code page;
#   - its debug information in <name>.debug beside it, which the executable
#     names in its .gnu_debuglink section (with the file's CRC-32), and no
#     debug information of its own;
#   - where tlv_sign_windows_executable asks for it, a signature from
#     TLV_SIGN_COMMAND, made last.

set(TLV_COMPANY_NAME "" CACHE STRING
  "CompanyName of the Windows executable's version information")
set(TLV_PRODUCT_NAME "Crash report uploader" CACHE STRING
  "ProductName of the Windows executable's version information")
set(TLV_FILE_DESCRIPTION "Sends crash reports of the game" CACHE STRING
  "FileDescription of the Windows executable's version information and manifest")
# A deployment that holds a certificate signs the shipped executable with
# this command (README, The Windows build): it gets the executable's path
# as its last argument and must sign the file in place, so a tool that
# writes the signed file elsewhere (osslsigncode) goes in a small script.
set(TLV_SIGN_COMMAND "" CACHE STRING
  "Command (a CMake list) that signs crashreport.exe in place; empty: unsigned")

# tlv_windows_executable(<target>)
function(tlv_windows_executable target)
  set(TLV_EXE_NAME ${target})
  string(REPLACE "." "," TLV_VERSION_COMMAS "${PROJECT_VERSION}")
  set(dir "${CMAKE_CURRENT_BINARY_DIR}/${target}_resources")
  set(TLV_MANIFEST "${dir}/${target}.manifest")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/windows/crashreport.manifest.in"
                 "${TLV_MANIFEST}" @ONLY)
  configure_file("${PROJECT_SOURCE_DIR}/cmake/windows/crashreport.rc.in"
                 "${dir}/${target}.rc" @ONLY)
  target_sources(${target} PRIVATE "${dir}/${target}.rc")
  # windres does not see that the script includes the manifest.
  set_source_files_properties("${dir}/${target}.rc" PROPERTIES
    OBJECT_DEPENDS "${TLV_MANIFEST}")

  set(executable "$<TARGET_FILE:${target}>")
  set(debug_file "$<TARGET_FILE_DIR:${target}>/${target}.debug")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND "${CMAKE_OBJCOPY}" --only-keep-debug "${executable}" "${debug_file}"
    COMMAND "${CMAKE_OBJCOPY}" --strip-debug "${executable}"
    COMMAND "${CMAKE_OBJCOPY}" "--add-gnu-debuglink=${debug_file}" "${executable}"
    COMMENT "Moving ${target}'s debug information to ${target}.debug"
    VERBATIM)
endfunction()

# tlv_sign_windows_executable(<target>): signs the target's executable with
# TLV_SIGN_COMMAND after everything above, if the command is set.
function(tlv_sign_windows_executable target)
  if(TLV_SIGN_COMMAND)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${TLV_SIGN_COMMAND} "$<TARGET_FILE:${target}>"
      COMMENT "Signing ${target}"
      VERBATIM)
  endif()
endfunction()
