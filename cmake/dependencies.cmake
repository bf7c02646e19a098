if(DEFINED VCPKG_TOOLCHAIN)
  # Windows users' own build with Visual Studio: everything from vcpkg.json.
  find_package(httplib 0.41 CONFIG REQUIRED)
  find_package(nlohmann_json 3.10 CONFIG REQUIRED)
  find_package(Threads REQUIRED)
  add_library(koravel_json INTERFACE)
  target_link_libraries(koravel_json INTERFACE nlohmann_json::nlohmann_json)
  add_library(koravel::json ALIAS koravel_json)
  add_library(koravel_httplib INTERFACE)
  target_link_libraries(koravel_httplib INTERFACE httplib::httplib Threads::Threads)
  target_compile_definitions(koravel_httplib INTERFACE
    CPPHTTPLIB_OPENSSL_SUPPORT CPPHTTPLIB_LISTEN_BACKLOG=128
    _WIN32_WINNT=0x0A00 CPPHTTPLIB_DISABLE_WINDOWS_AUTOMATIC_ROOT_CERTIFICATES_UPDATE NOMINMAX)
  add_library(koravel::httplib ALIAS koravel_httplib)
  return()
endif()

# cpp-httplib: its header and source, split by scripts/fetch-httplib.sh.
set(_httplib_dir "${KORAVEL_DEPS_DIR}/httplib")
set(_httplib_min "0.41.0")
if(NOT EXISTS "${_httplib_dir}/httplib.h" OR NOT EXISTS "${_httplib_dir}/httplib.cc")
  message(FATAL_ERROR
    "cpp-httplib's httplib.h and httplib.cc are missing from ${_httplib_dir}.\n"
    "Run scripts/fetch-httplib.sh (or scripts/install-deps.sh) first.")
endif()
file(STRINGS "${_httplib_dir}/httplib.h" _httplib_version_line
     REGEX "^#define CPPHTTPLIB_VERSION \"[0-9.]+\"")
string(REGEX MATCH "[0-9]+\\.[0-9]+\\.[0-9]+" _httplib_version "${_httplib_version_line}")
if(NOT _httplib_version OR _httplib_version VERSION_LESS _httplib_min)
  message(FATAL_ERROR
    "cpp-httplib in ${_httplib_dir} is '${_httplib_version}'; ${_httplib_min} or newer is needed.\n"
    "Run scripts/fetch-httplib.sh to fetch a newer one.")
endif()
# The version alone does not say that the header still has what the server
# builds on: a subclass that runs one request through the routes on a stream
# of its own (process_request), the Stream interface, and the post-routing
# handler. A header that lacks them stops the configuring here, plainly.
include(CheckCXXSourceCompiles)
set(CMAKE_REQUIRED_INCLUDES "${_httplib_dir}")
set(CMAKE_REQUIRED_FLAGS "-std=c++20")
# Compiled, not linked: the cross build links Winsock only later.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
check_cxx_source_compiles([=[
#include <httplib.h>
struct S final : httplib::Server {
  bool one(httplib::Stream& s) {
    bool closed = false;
    return process_request(s, std::string(), 0, std::string(), 0, true, closed, nullptr);
  }
};
struct T final : httplib::Stream {
  bool is_readable() const override { return false; }
  bool wait_readable() const override { return false; }
  bool wait_writable() const override { return false; }
  bool is_peer_alive() const override { return false; }
  ssize_t read(char*, size_t) override { return 0; }
  ssize_t write(const char*, size_t) override { return 0; }
  void get_remote_ip_and_port(std::string&, int&) const override {}
  void get_local_ip_and_port(std::string&, int&) const override {}
  socket_t socket() const override { return socket_t{}; }
  time_t duration() const override { return 0; }
  void set_read_timeout(time_t, time_t) override {}
};
int main() {
  S s;
  T t;
  s.set_post_routing_handler([](const httplib::Request&, httplib::Response&) {});
  s.set_payload_max_length(1);
  httplib::Client c("https://x");
  c.set_max_timeout(std::chrono::milliseconds(1));
  return s.one(t) ? 0 : 1;
}
]=] KORAVEL_HTTPLIB_HAS_WHAT_THE_SERVER_NEEDS)
unset(CMAKE_REQUIRED_INCLUDES)
unset(CMAKE_REQUIRED_FLAGS)
unset(CMAKE_TRY_COMPILE_TARGET_TYPE)
if(NOT KORAVEL_HTTPLIB_HAS_WHAT_THE_SERVER_NEEDS)
  message(FATAL_ERROR
    "cpp-httplib ${_httplib_version} in ${_httplib_dir} lacks what the gift server builds on "
    "(Server::process_request for a subclass, the Stream interface, the post-routing handler, "
    "Client::set_max_timeout). See CMakeFiles/CMakeConfigureLog.yaml for the compiler's words.")
endif()
message(STATUS "cpp-httplib ${_httplib_version} from ${_httplib_dir}")

# nlohmann-json, from Debian's nlohmann-json3-dev. A cross build must not see
# the rest of /usr/include, so it gets a folder holding only this library.
if(CMAKE_CROSSCOMPILING)
  set(_json_stage "${CMAKE_BINARY_DIR}/json-include")
  if(NOT EXISTS /usr/include/nlohmann/json.hpp)
    message(FATAL_ERROR "nlohmann/json.hpp not found: install nlohmann-json3-dev")
  endif()
  file(MAKE_DIRECTORY "${_json_stage}")
  file(CREATE_LINK /usr/include/nlohmann "${_json_stage}/nlohmann" SYMBOLIC)
  add_library(koravel_json INTERFACE)
  target_include_directories(koravel_json SYSTEM INTERFACE "${_json_stage}")
else()
  find_package(nlohmann_json 3.10 REQUIRED)
  add_library(koravel_json INTERFACE)
  target_link_libraries(koravel_json INTERFACE nlohmann_json::nlohmann_json)
endif()
add_library(koravel::json ALIAS koravel_json)

# OpenSSL: Debian's for Linux; for Windows, the static mingw build made by
# scripts/build-openssl-mingw.sh.
if(WIN32)
  set(_ossl "${KORAVEL_DEPS_DIR}/openssl-mingw64")
  if(NOT EXISTS "${_ossl}/lib/libssl.a")
    message(FATAL_ERROR
      "OpenSSL for mingw is missing from ${_ossl}.\nRun scripts/build-openssl-mingw.sh first.")
  endif()
  add_library(koravel_openssl INTERFACE)
  target_include_directories(koravel_openssl SYSTEM INTERFACE "${_ossl}/include")
  target_link_libraries(koravel_openssl INTERFACE
    "${_ossl}/lib/libssl.a" "${_ossl}/lib/libcrypto.a" crypt32 ws2_32 advapi32 user32 gdi32)
else()
  find_package(OpenSSL 3 REQUIRED)
  add_library(koravel_openssl INTERFACE)
  target_link_libraries(koravel_openssl INTERFACE OpenSSL::SSL OpenSSL::Crypto)
endif()

# Compiled once here; the files that include its header see declarations only.
# Its own warnings are the library's, not this program's.
add_library(koravel_httplib STATIC "${_httplib_dir}/httplib.cc")
target_compile_options(koravel_httplib PRIVATE -w)
target_include_directories(koravel_httplib SYSTEM PUBLIC "${_httplib_dir}")
target_compile_definitions(koravel_httplib PUBLIC
  CPPHTTPLIB_OPENSSL_SUPPORT
  # The benchmark's bare server waits for connections with the program's
  # backlog (platform/sockets.hpp).
  CPPHTTPLIB_LISTEN_BACKLOG=128)
if(WIN32)
  target_compile_definitions(koravel_httplib PUBLIC
    _WIN32_WINNT=0x0A00
    CPPHTTPLIB_DISABLE_WINDOWS_AUTOMATIC_ROOT_CERTIFICATES_UPDATE)
endif()
find_package(Threads REQUIRED)
target_link_libraries(koravel_httplib PUBLIC koravel_openssl Threads::Threads)
add_library(koravel::httplib ALIAS koravel_httplib)
