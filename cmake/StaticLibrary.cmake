# libvelta3230.a: the library's objects with the shipped converter libraries
# (jpconv, cjkconv) linked in. They answer to their library names in the
# registry files; no converter library is loaded from a file, since one would
# link a second copy of the library.
file(GLOB VELTA_LINKED_JPCONV_TABLES ${PROJECT_SOURCE_DIR}/jpconv/tables/*.txt)
velta_embed_resources(${CMAKE_CURRENT_BINARY_DIR}/generated/linked_jpconv_tables.cpp
                      gJapaneseResources ${VELTA_LINKED_JPCONV_TABLES})
add_library(velta3230_static STATIC
  $<TARGET_OBJECTS:velta_objects>
  ${VELTA_RESOURCE_SOURCES}
  linker/linked_libraries_static.cpp
  kernels/two_byte_codes.cpp
  jpconv/jpconv.cpp
  jpconv/iso2022_jp2.cpp
  jpconv/jis0208.cpp
  jpconv/windows_31j.cpp
  ${CMAKE_CURRENT_BINARY_DIR}/generated/linked_jpconv_tables.cpp
  cjkconv/big5.cpp
  cjkconv/big5_hkscs.cpp
  cjkconv/euc_jp_ms.cpp
  cjkconv/euc_kr.cpp
  cjkconv/euc_tw.cpp
  cjkconv/gb18030.cpp
  cjkconv/gb2312.cpp
  cjkconv/hz.cpp
  cjkconv/iso2022_cn.cpp
  cjkconv/iso2022_kr.cpp
  cjkconv/iso2022_jp3.cpp
  cjkconv/jisx0213.cpp
  cjkconv/johab.cpp)
target_include_directories(velta3230_static
  PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
         $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/include>
         $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>
  PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_definitions(velta3230_static PUBLIC VELTA_STATIC)
target_compile_options(velta3230_static PRIVATE ${VELTA_WARNINGS})
target_link_libraries(velta3230_static PUBLIC ${CMAKE_DL_LIBS})
set_target_properties(velta3230_static PROPERTIES
  OUTPUT_NAME velta3230
  EXPORT_NAME velta_static
  CXX_VISIBILITY_PRESET hidden
  POSITION_INDEPENDENT_CODE ON)
add_library(Velta::velta_static ALIAS velta3230_static)
install(TARGETS velta3230_static EXPORT VeltaTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
