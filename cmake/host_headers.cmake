# Header-only libraries of the build host (Debian's rapidjson-dev) for a
# cross-build: copied into the build tree, so that the include path of the
# Windows compiler holds them and nothing else from the host.
set(TOLVAR_HOST_HEADERS "${CMAKE_BINARY_DIR}/host-headers")
if(NOT EXISTS /usr/include/rapidjson/rapidjson.h)
  message(FATAL_ERROR "RapidJSON headers missing: install rapidjson-dev")
endif()
file(COPY /usr/include/rapidjson DESTINATION "${TOLVAR_HOST_HEADERS}")
