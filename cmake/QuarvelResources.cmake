# quarvel_add_resources(<target> <description file>)
# Generates the resource table of <target> (a program or a shared library that links
# quarvel_platform) from its description file and compiles it into the target. The
# description's format is in platform/resgen/description.h; files it names are
# dependencies of the build. Usable anywhere after platform/ has been added.
include_guard(GLOBAL)

function(quarvel_add_resources target description)
  if(NOT TARGET quarvel_resgen)
    message(FATAL_ERROR "quarvel_add_resources: platform/ (quarvel_resgen) must be added first")
  endif()
  get_target_property(type ${target} TYPE)
  if(NOT type MATCHES "^(EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY)$")
    # A static library's table would be dropped by the linker: nothing refers to it.
    message(FATAL_ERROR "quarvel_add_resources: ${target} must be a program or a shared library")
  endif()
  get_filename_component(desc "${description}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  set(out "${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.cpp")
  add_custom_command(
    OUTPUT "${out}"
    COMMAND quarvel_resgen "${desc}" "${out}" "${out}.d"
    DEPENDS quarvel_resgen "${desc}"
    DEPFILE "${out}.d"
    COMMENT "Generating the resources of ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE "${out}")
  set_source_files_properties("${out}" PROPERTIES
    INCLUDE_DIRECTORIES "$<TARGET_PROPERTY:quarvel_platform,INTERFACE_INCLUDE_DIRECTORIES>")
endfunction()
