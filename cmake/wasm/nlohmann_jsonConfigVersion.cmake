# The version of the build machine's nlohmann-json, whatever the target's pointer size.
include(/usr/share/cmake/nlohmann_json/nlohmann_jsonConfigVersion.cmake OPTIONAL)
if(NOT PACKAGE_VERSION)
  set(PACKAGE_VERSION_UNSUITABLE TRUE)
endif()
