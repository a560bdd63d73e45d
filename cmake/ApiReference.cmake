# The API reference, from the comments of the installed headers: the target
# api-reference writes <build>/docs/api/html/index.html; Doxygen's warnings
# are errors. The headers' plain comments are read as documentation.
find_package(Doxygen QUIET)
if(DOXYGEN_FOUND)
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/docs/api)
  configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${PROJECT_BINARY_DIR}/Doxyfile @ONLY)
  add_custom_target(api-reference
    COMMAND Doxygen::doxygen ${PROJECT_BINARY_DIR}/Doxyfile
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    COMMENT "API reference in ${PROJECT_BINARY_DIR}/docs/api/html"
    VERBATIM)
endif()
