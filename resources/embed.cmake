# Writes a C++ source that holds files as byte arrays, for kelvo's built-in
# resources:
#   cmake -D OUTPUT=file.cpp -D "FILES=Name=path;..." -D "LANGUAGES=code=path;..." -P embed.cmake
# Each Name becomes a `const EmbeddedFile Name` (builder/default_resources.h)
# whose bytes are followed by a NUL, so a text can be read in place. Each
# language file becomes an entry of EmbeddedLanguageFiles, by its code; the
# list ends with an entry whose code is null.
set(source "// Generated from kelvo's resources by resources/embed.cmake; do not edit.\n")
string(APPEND source "#include \"builder/default_resources.h\"\n\nnamespace {\n")
set(definitions "")
set(languages "")

# Appends the bytes of `path` as array `name`Bytes to `source`.
macro(embed_bytes name path)
    file(READ "${path}" hex HEX)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
    string(APPEND source "const unsigned char ${name}Bytes[] = {\n${bytes}0};\n")
endmacro()

foreach(entry ${FILES})
    string(REGEX MATCH "^([A-Za-z_][A-Za-z0-9_]*)=(.*)$" matched "${entry}")
    if(NOT matched)
        message(FATAL_ERROR "embed.cmake: '${entry}' is not Name=path")
    endif()
    set(name "${CMAKE_MATCH_1}")
    set(path "${CMAKE_MATCH_2}")
    file(SIZE "${path}" size)
    embed_bytes(${name} "${path}")
    string(APPEND definitions "const EmbeddedFile ${name} = {${name}Bytes, ${size}};\n")
endforeach()

foreach(entry ${LANGUAGES})
    string(REGEX MATCH "^([a-z][a-z0-9_-]*)=(.*)$" matched "${entry}")
    if(NOT matched)
        message(FATAL_ERROR "embed.cmake: '${entry}' is not code=path (a language file's name is its code in lower case)")
    endif()
    set(code "${CMAKE_MATCH_1}")
    set(path "${CMAKE_MATCH_2}")
    string(MAKE_C_IDENTIFIER "Language_${code}" name)
    file(SIZE "${path}" size)
    embed_bytes(${name} "${path}")
    string(APPEND languages "    {\"${code}\", {${name}Bytes, ${size}}},\n")
endforeach()

string(APPEND source "\n}  // namespace\n\n${definitions}")
string(APPEND source "const EmbeddedLanguageFile EmbeddedLanguageFiles[] = {\n${languages}    {nullptr, {nullptr, 0}},\n};\n")
file(WRITE "${OUTPUT}" "${source}")
