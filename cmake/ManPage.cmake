# mervo_man_page(NAME COMPONENT TARGET): compresses NAME.1 of the calling
# folder without a name or time in the gzip header (-n), so the Debian
# package is the same from any build; TARGET builds it (with the tree), and
# it is installed into COMPONENT's man1 folder.
function(mervo_man_page name component target)
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${name}.1.gz)
  add_custom_command(OUTPUT ${page}
    COMMAND gzip -9n -c ${CMAKE_CURRENT_SOURCE_DIR}/${name}.1 > ${page}
    DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${name}.1
    COMMENT "Compressing the man page of ${name}")
  add_custom_target(${target} ALL DEPENDS ${page})
  install(FILES ${page} DESTINATION share/man/man1 COMPONENT ${component})
endfunction()
