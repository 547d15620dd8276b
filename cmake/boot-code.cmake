# The boot code that --boot writes: NASM sources in src/tool/finish,
# assembled at build time for the native build (the Windows build has no
# host and needs no assembler), each checked against the room it has in its
# sector and turned into a C++ array.
#
# Included from the top CMakeLists.txt: dunmore_boot_code(TARGET) adds the
# arrays to TARGET. Run as a script (cmake -P) it makes one array:
#   -DINPUT=bin -DOUTPUT=cpp -DNAME=symbol -DLIMIT=bytes

if(CMAKE_SCRIPT_MODE_FILE)
  file(SIZE ${INPUT} size)
  if(size GREATER LIMIT)
    message(FATAL_ERROR "${INPUT}: ${size} bytes of boot code, the area holds ${LIMIT}")
  endif()
  file(READ ${INPUT} hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){12})" "\\1\n    " bytes "${bytes}")
  file(WRITE ${OUTPUT}.new
    "// Made by cmake/boot-code.cmake from ${INPUT}; do not edit.\n"
    "#include \"tool/finish/boot_code.h\"\n\n"
    "namespace tool {\n\n"
    "const uint8_t ${NAME}Bytes[] = {\n    ${bytes}};\n"
    "const BootCode ${NAME} = {${NAME}Bytes, sizeof ${NAME}Bytes};\n\n"
    "}  // namespace tool\n")
  file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
  file(REMOVE ${OUTPUT}.new)
  return()
endif()

find_program(NASM nasm)
if(NOT NASM)
  message(FATAL_ERROR "nasm not found: the native build assembles its boot code with it "
    "(apt-get install nasm)")
endif()

# One piece of boot code: SOURCE assembled with the extra nasm arguments into
# NAME, at most LIMIT bytes.
function(dunmore_assemble target name source limit)
  set(folder ${CMAKE_BINARY_DIR}/boot-code)
  set(bin ${folder}/${name}.bin)
  set(cpp ${folder}/${name}.cpp)
  add_custom_command(OUTPUT ${bin} ${cpp}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND ${NASM} -f bin -w+all -Werror ${ARGN} -o ${bin} ${source}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${bin} -DOUTPUT=${cpp} -DNAME=${name} -DLIMIT=${limit}
      -P ${CMAKE_SOURCE_DIR}/cmake/boot-code.cmake
    DEPENDS ${source} ${CMAKE_SOURCE_DIR}/cmake/boot-code.cmake
    COMMENT "Assembling ${name} from ${source}"
    VERBATIM)
  target_sources(${target} PRIVATE ${cpp})
endfunction()

function(dunmore_boot_code target)
  set(finish ${CMAKE_SOURCE_DIR}/src/tool/finish)
  # The master boot record's code ends where the disk signature begins (440).
  dunmore_assemble(${target} kMbrBootCode ${finish}/mbr.asm 440)
  # A FAT boot sector's code area runs from the end of its BPB to the 55 AA
  # at 1FEh: 3Eh to 1FDh after a FAT12/16 BPB, 5Ah to 1FDh after a FAT32 one.
  dunmore_assemble(${target} kFat16BootCode ${finish}/fat_boot.asm 448 -DCODE_OFFSET=0x3E)
  dunmore_assemble(${target} kFat32BootCode ${finish}/fat_boot.asm 420 -DCODE_OFFSET=0x5A)
endfunction()
