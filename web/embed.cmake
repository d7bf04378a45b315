# Joins the page pieces (listed in pieces.txt, in order) into one HTML text and
# embeds it, with the default lists, into a C++ source file.
# Inputs: SRC (this directory), OUT (the .cpp to write).
# In the pieces, a token @LIST:name@ becomes a JSON string literal holding the
# text of lists/name.txt, so the page and the native side share one source.
file(STRINGS "${SRC}/pieces.txt" pieces REGEX "^[^#]")
set(page "")
foreach(p IN LISTS pieces)
  string(STRIP "${p}" p)
  if(p STREQUAL "")
    continue()
  endif()
  file(READ "${SRC}/${p}" text)
  string(APPEND page "${text}")
endforeach()

function(json_quote out text)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\\\"" text "${text}")
  string(REPLACE "\r" "\\r" text "${text}")
  string(REPLACE "\n" "\\n" text "${text}")
  string(REPLACE "\t" "\\t" text "${text}")
  string(REPLACE "</" "<\\/" text "${text}")
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()

file(GLOB lists "${SRC}/lists/*.txt")
foreach(l IN LISTS lists)
  get_filename_component(name "${l}" NAME_WE)
  file(READ "${l}" text)
  json_quote(q "${text}")
  string(REPLACE "@LIST:${name}@" "${q}" page "${page}")
endforeach()

file(WRITE "${OUT}.page" "${page}")
file(READ "${OUT}.page" hex HEX)
string(LENGTH "${hex}" hexlen)
math(EXPR nbytes "${hexlen} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," hex "${hex}")

set(lists_cpp "")
set(list_lookup "")
foreach(l IN LISTS lists)
  get_filename_component(name "${l}" NAME_WE)
  file(READ "${l}" lhex HEX)
  string(LENGTH "${lhex}" llen)
  math(EXPR lbytes "${llen} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," lhex "${lhex}")
  string(APPEND lists_cpp "const unsigned char kList_${name}[] = {${lhex} 0x00};\n")
  string(APPEND lists_cpp "constexpr size_t kListLen_${name} = ${lbytes};\n")
  string(APPEND list_lookup "    if (name == \"${name}\") return {reinterpret_cast<const char*>(kList_${name}), kListLen_${name}};\n")
endforeach()

file(WRITE "${OUT}.tmp" "// Generated from web/ at build time. Do not edit.
#include \"web/page.h\"

namespace tv {
namespace {
const unsigned char kPage[] = {${hex} 0x00};
constexpr size_t kPageLen = ${nbytes};
${lists_cpp}
} // namespace

std::string_view pageText() { return {reinterpret_cast<const char*>(kPage), kPageLen}; }

std::string_view embeddedList(std::string_view name) {
${list_lookup}    return {};
}

} // namespace tv
")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
