# Turns the help pages into a C++ source that holds their bytes, so the
# program needs no files beside it. Run as
#   cmake -DOUTPUT=help_pages.cpp -DHELP_DIR=help -P embed.cmake
file(GLOB pages RELATIVE ${HELP_DIR} ${HELP_DIR}/*.html)
list(SORT pages)
set(text "// Generated from the help/ folder at build time; edit the pages there.\n")
string(APPEND text "#include \"shell/help.h\"\n\nnamespace zk {\n\nnamespace {\n\n")
set(table "")
set(index 0)
foreach(page ${pages})
  file(READ ${HELP_DIR}/${page} hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  # Sixteen bytes a line.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REPEAT "0x..," 16 line)
  string(REGEX REPLACE "(${line})" "\\1\n" bytes "${bytes}")
  string(APPEND text "const unsigned char page${index}[] = {\n${bytes}0};\n\n")
  string(APPEND table "    {\"${page}\", page${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
string(APPEND text "const HelpPage pages[] = {\n${table}};\n\n}  // namespace\n\n")
string(APPEND text "std::span<const HelpPage> help_pages() { return pages; }\n\n}  // namespace zk\n")
file(WRITE ${OUTPUT} "${text}")
