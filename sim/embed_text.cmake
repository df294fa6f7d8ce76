# Writes a C++ source whose function returns a text file's bytes:
#   cmake -DINPUT=file.txt -DOUTPUT=file.cpp -DHEADER=sim/x.h -DFUNCTION=Name -P embed_text.cmake
file(READ "${INPUT}" content HEX)
string(LENGTH "${content}" hexLength)
math(EXPR length "${hexLength} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${content}")
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${INPUT}; do not edit.\n"
  "#include \"${HEADER}\"\n\n"
  "namespace sim {\n\n"
  "std::string_view ${FUNCTION}() {\n"
  "  static constexpr unsigned char kText[] = {${bytes}0};\n"
  "  return {reinterpret_cast<const char*>(kText), ${length}};\n"
  "}\n\n"
  "}  // namespace sim\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
