# The x86_64 Windows tree: a made catalog read through Wine's own wintrust,
# and the package staged with it.
# The catalog is made by the host tree's maker (this tree cannot build it);
# without that tree the test is skipped and says so.
add_executable(MERVOCatalogMembers tests/CatalogMembers.cpp)
target_link_libraries(MERVOCatalogMembers PRIVATE wintrust)
target_link_options(MERVOCatalogMembers PRIVATE -static)

mervo_sibling_tree(MERVO_DEFAULT_HOST_BUILD_DIR win64 host)
set(MERVO_HOST_BUILD_DIR ${MERVO_DEFAULT_HOST_BUILD_DIR} CACHE PATH
  "host build tree whose MERVOMakeCatalog makes the catalogs the Wine tests read")
add_test(NAME makecatalog.wine.members_found_and_staged
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tests/wine_catalog.sh
          ${MERVO_HOST_BUILD_DIR}/tools/makecatalog/MERVOMakeCatalog
          ${CMAKE_SOURCE_DIR}/tests/e2e/wine-env.sh ${CMAKE_BINARY_DIR}/wine-e2e
          $<TARGET_FILE:MERVOCatalogMembers> ${CMAKE_SOURCE_DIR}/examples/package
          ${CMAKE_CURRENT_BINARY_DIR}/wine-catalog $<TARGET_FILE:MERVODriverStager>
          $<TARGET_FILE:MERVODevCtl64> $<TARGET_FILE:stager_runner>)
set_tests_properties(makecatalog.wine.members_found_and_staged PROPERTIES
  FIXTURES_REQUIRED wine_env RESOURCE_LOCK wine_prefix LABELS wine TIMEOUT 120 SKIP_RETURN_CODE 77
  PASS_REGULAR_EXPRESSION "every member found.*Exit code: 0 .*the catalog store holds the made catalog")
