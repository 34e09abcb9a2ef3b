# Turns a 2048-byte key block into a C++ source that defines PUBLIC_KEY.
# Called with -DKEY_FILE=... -DOUTPUT=...
file(READ "${KEY_FILE}" hex HEX)
string(LENGTH "${hex}" hexLength)
if(NOT hexLength EQUAL 4096)
  math(EXPR bytes "${hexLength} / 2")
  message(FATAL_ERROR "${KEY_FILE}: a public key block has 2048 bytes, this one has ${bytes}")
endif()
string(REGEX REPLACE "(..)" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp" "// Generated from ${KEY_FILE}; do not edit.\n#include \"tomcryptutil.h\"\n\nconst unsigned char PUBLIC_KEY[keyBlockSize] = {\n    ${bytes}\n};\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
