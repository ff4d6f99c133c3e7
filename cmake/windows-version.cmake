# The Windows version resource (VERSIONINFO) of a program, from the project's one version.
include_guard(GLOBAL)

# quillon_add_version_resource(TARGET FILE_NAME DESCRIPTION LANGUAGE)
# Compiles a version resource for TARGET, whose executable is FILE_NAME, and links it in.
# LANGUAGE is zh-CN (the desktop program: language 2052, code page 936) or en-US (the command).
function(quillon_add_version_resource target file_name description language)
  if(language STREQUAL "zh-CN")
    set(QUILLON_RC_LANGUAGE "LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED")
    set(QUILLON_RC_BLOCK "080403a8")
    set(QUILLON_RC_TRANSLATION "0x804, 936")
  elseif(language STREQUAL "en-US")
    set(QUILLON_RC_LANGUAGE "LANG_ENGLISH, SUBLANG_ENGLISH_US")
    set(QUILLON_RC_BLOCK "040904b0")
    set(QUILLON_RC_TRANSLATION "0x409, 1200")
  else()
    message(FATAL_ERROR "quillon_add_version_resource: unknown language ${language}")
  endif()
  set(QUILLON_RC_FILE_NAME "${file_name}")
  set(QUILLON_RC_DESCRIPTION "${description}")
  # The binary version has four numbers; a version without a patch number counts it as 0.
  set(QUILLON_RC_NUMBERS "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR}")
  if(PROJECT_VERSION_PATCH STREQUAL "")
    string(APPEND QUILLON_RC_NUMBERS ",0,0")
  else()
    string(APPEND QUILLON_RC_NUMBERS ",${PROJECT_VERSION_PATCH},0")
  endif()

  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  set(object ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.o)
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/version.rc.in ${rc} @ONLY)
  # windres is run directly: the project's C++ warning flags are not windres options.
  add_custom_command(
    OUTPUT ${object}
    COMMAND ${CMAKE_RC_COMPILER} --codepage=65001 -O coff -i ${rc} -o ${object}
    DEPENDS ${rc}
    VERBATIM)
  target_sources(${target} PRIVATE ${object})
endfunction()
