# Compiler warnings and sanitizers shared by every target of the project.

function(certpurge_set_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
    -Wunused -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough)
  if(CERTPURGE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

# Test code spends its time in the module and in SoftHSM2, not in itself:
# built without optimisation, it builds in half the time. Under
# AddressSanitizer only the code under test is instrumented (the runtime
# still checks every allocation and leak); CERTPURGE_SANITIZED tells the
# tests what they run under.
function(certpurge_test_code target)
  target_compile_options(${target} PRIVATE -O0)
  if(CERTPURGE_SANITIZE)
    target_compile_definitions(${target} PRIVATE CERTPURGE_SANITIZED)
  endif()
  if(CERTPURGE_SANITIZE MATCHES "address")
    target_compile_options(${target} PRIVATE -fno-sanitize=all)
  endif()
endfunction()

# A test program built from one source file parses gtest and Qt once and
# emits their inline code once. Fixtures in anonymous namespaces then sit
# in what GCC takes for a header: its linkage warning says nothing there.
# Built so for the test command, it carries no debug information either
# (a third of its compile time): a test's failure says where it failed, and
# the code under test keeps its own. It is linked by gold, in half the time
# of the default linker; what is shipped keeps the default.
function(certpurge_unity_test target)
  if(CERTPURGE_UNITY_TESTS)
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 0)
    target_compile_options(${target} PRIVATE -Wno-subobject-linkage -g0)
    target_link_options(${target} PRIVATE -fuse-ld=gold)
  endif()
endfunction()

# Sanitized builds exist to run the tests, with line tables, all their
# reports need. ThreadSanitizer at -O1, as it advises: unoptimised code
# sends every local through memory, each access checked. AddressSanitizer's
# runs spend their time in Qt, OpenSSL and SoftHSM2, which it does not
# instrument: unoptimised, the code under test builds in less time, and
# the tests run as fast.
if(CERTPURGE_SANITIZE)
  if(CERTPURGE_SANITIZE MATCHES "thread")
    set(optimisation -O1)
  else()
    set(optimisation -O0)
  endif()
  add_compile_options(-fsanitize=${CERTPURGE_SANITIZE} -fno-omit-frame-pointer ${optimisation} -g1)
  add_link_options(-fsanitize=${CERTPURGE_SANITIZE})
  # GCC 12 at -O1 with ThreadSanitizer sees libstdc++'s optional<vector>
  # moves as maybe-uninitialised; the plain build keeps the warning.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
  if(CERTPURGE_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()

# certpurge_folder_library(<name> FOLDER <folder> [QT] [HEADERS_ONLY] [SOURCES ...])
# One library of one source folder. Its public include directory is a view
# in the build tree holding a single link, <folder> -> the source folder, so
# "<folder>/X.h" resolves for it and for whatever links it, and a folder
# that is not linked, directly or through a dependency, cannot be included.
# HEADERS_ONLY makes an INTERFACE library: the folder's headers, no code.
function(certpurge_folder_library name)
  cmake_parse_arguments(L "QT;HEADERS_ONLY" "FOLDER" "SOURCES" ${ARGN})
  set(view ${PROJECT_BINARY_DIR}/include-view/${L_FOLDER})
  if(NOT EXISTS ${view}/${L_FOLDER})
    file(MAKE_DIRECTORY ${view})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${L_FOLDER} ${view}/${L_FOLDER} SYMBOLIC)
  endif()
  if(L_HEADERS_ONLY)
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${view})
    return()
  endif()
  add_library(${name} STATIC ${L_SOURCES})
  target_include_directories(${name} PUBLIC ${view})
  set_target_properties(${name} PROPERTIES AUTOMOC ${L_QT})
  certpurge_set_warnings(${name})
endfunction()
