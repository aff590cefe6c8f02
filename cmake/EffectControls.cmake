# The effect-controls window: the header picture compiled into the effect, and the maker's page addresses.

# The picture is kept as a PNG; a small tool turns it into a constant byte array when building.
add_executable(velloran_embed_image ${CMAKE_SOURCE_DIR}/cmake/EmbedImage.cpp)
target_link_libraries(velloran_embed_image PRIVATE PNG::PNG)

set(VELLORAN_HEADER_PNG ${CMAKE_SOURCE_DIR}/host/assets/header.png)
set(VELLORAN_HEADER_CPP ${CMAKE_BINARY_DIR}/generated/HeaderImage.cpp)
add_custom_command(
  OUTPUT ${VELLORAN_HEADER_CPP}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/generated
  COMMAND velloran_embed_image ${VELLORAN_HEADER_PNG} ${VELLORAN_HEADER_CPP} kHeaderImageBGRA 384 200
  DEPENDS velloran_embed_image ${VELLORAN_HEADER_PNG}
  COMMENT "Embedding the effect-controls header picture"
  VERBATIM)
target_sources(velloran_effect_obj PRIVATE ${VELLORAN_HEADER_CPP})

# Empty keeps the address built into host/ParamChange.h.
foreach(page PRODUCT_PAGE FREE_PLUGINS SUPPORT)
  set(VELLORAN_${page}_URL "" CACHE STRING "Address behind the About & Support button (${page}); empty: built-in")
  if(VELLORAN_${page}_URL)
    target_compile_definitions(velloran_effect_obj PRIVATE VELLORAN_${page}_URL="${VELLORAN_${page}_URL}")
  endif()
endforeach()
