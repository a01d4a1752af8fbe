# Writes OUTPUT, a C++ file that holds each of FILES (relative to FOLDER, separated by
# commas) as a byte array, listed by webAssets().
# Run as: cmake -DFOLDER=... -DFILES=a,b -DOUTPUT=... -P embed.cmake
string(REPLACE "," ";" FILES "${FILES}")
set(arrays "")
set(entries "")
set(n 0)
foreach(name IN LISTS FILES)
  file(READ "${FOLDER}/${name}" hex HEX)
  string(LENGTH "${hex}" length)
  math(EXPR size "${length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){32})" "\\1\n" bytes "${bytes}")
  get_filename_component(ext "${name}" LAST_EXT)
  if(ext STREQUAL ".html")
    set(type "text/html; charset=utf-8")
  elseif(ext STREQUAL ".css")
    set(type "text/css; charset=utf-8")
  elseif(ext STREQUAL ".js")
    set(type "text/javascript; charset=utf-8")
  elseif(ext STREQUAL ".svg")
    set(type "image/svg+xml")
  else()
    set(type "application/octet-stream")
  endif()
  string(APPEND arrays "const unsigned char asset${n}[] = {\n${bytes}0};\n")
  string(APPEND entries "    {\"${name}\", \"${type}\", asset${n}, ${size}},\n")
  math(EXPR n "${n} + 1")
endforeach()
file(WRITE "${OUTPUT}.new"
  "// Generated from apps/kelvane/preview/web by embed.cmake.\n"
  "#include \"web_assets.h\"\n\nnamespace kelvane::cli {\n\nnamespace {\n\n${arrays}\n}  // namespace\n\n"
  "std::span<const WebAsset> webAssets() {\n  static const WebAsset assets[] = {\n${entries}  };\n"
  "  return assets;\n}\n\n}  // namespace kelvane::cli\n")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
