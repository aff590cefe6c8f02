# Writes SHADER_OUTPUT: a C++ file defining the text constant Shaders::SHADER_NAME with the
# exact bytes of SHADER_INPUT. Run at build time by add_custom_command.
file(READ ${SHADER_INPUT} text)

# The source goes in as a raw string literal; a delimiter that occurs in the text would cut
# it short, so refuse rather than embed a damaged shader.
set(delimiter "velloran_glsl")
if(text MATCHES "\\)${delimiter}\"")
  message(FATAL_ERROR "${SHADER_INPUT} contains the embedding delimiter )${delimiter}\"")
endif()

string(CONCAT content
  "// Generated from ${SHADER_NAME}.glsl at build time; edit the .glsl file instead.\n"
  "#include \"Shaders/ShaderSources.h\"\n"
  "\n"
  "namespace Shaders {\n"
  "extern const char ${SHADER_NAME}[] = R\"${delimiter}(" "${text}" ")${delimiter}\";\n"
  "}\n")

file(WRITE ${SHADER_OUTPUT} "${content}")
