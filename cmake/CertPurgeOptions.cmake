# Compiler warnings and sanitizers shared by every target of the project.

function(certpurge_set_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
    -Wunused -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough)
  if(CERTPURGE_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

if(CERTPURGE_SANITIZE)
  add_compile_options(-fsanitize=${CERTPURGE_SANITIZE} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${CERTPURGE_SANITIZE})
  if(CERTPURGE_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()
