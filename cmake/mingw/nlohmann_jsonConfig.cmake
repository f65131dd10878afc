# The host's header-only nlohmann-json for the mingw builds: only its own
# directory is exposed, through a link in the build tree.
if(NOT TARGET nlohmann_json::nlohmann_json)
  set(_hp_json_include ${CMAKE_BINARY_DIR}/host-json-include)
  file(MAKE_DIRECTORY ${_hp_json_include})
  if(NOT EXISTS ${_hp_json_include}/nlohmann)
    file(CREATE_LINK /usr/include/nlohmann ${_hp_json_include}/nlohmann SYMBOLIC)
  endif()
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${_hp_json_include})
endif()
