# libharu, zlib and qrcodegen for the Windows builds' certificates, compiled in from Debian's own
# source packages (scripts/pdf-sources.sh fetches and unpacks them), the same sources the Linux
# builds' libhpdf-dev, zlib1g-dev and libqrcodegen-dev are built from, as SQLite is
# (cmake/sqlite-windows.cmake). libpng is left out: the pages draw no image, and the QR code is
# drawn as filled squares. Without the three folders the programs make labels but no PDF.
set(CONFIGURATOR_PDF_SOURCES "" CACHE PATH
    "Folder with Debian's libharu, zlib and qr-code-generator sources unpacked (scripts/pdf-sources.sh prints it)")
set(pdf_sources ${CONFIGURATOR_PDF_SOURCES})
if(pdf_sources STREQUAL ""
   OR NOT EXISTS "${pdf_sources}/libharu/src/hpdf_doc.c"
   OR NOT EXISTS "${pdf_sources}/zlib/deflate.c"
   OR NOT EXISTS "${pdf_sources}/qr-code-generator/c/qrcodegen.c")
    message(STATUS "No libharu, zlib and qrcodegen sources in CONFIGURATOR_PDF_SOURCES "
                   "('${pdf_sources}'): this Windows build makes labels but no certificates")
    return()
endif()
enable_language(C)

# Not our code: its warnings are upstream's to weigh, and -Werror must not stop our build on
# them. Its folders lie outside the ones cmake/reproducible.cmake maps.
function(configurator_foreign_library target prefix)
    target_compile_options(${target} PRIVATE -w)
    if(CONFIGURATOR_REPRODUCIBLE)
        target_compile_options(${target} PRIVATE -ffile-prefix-map=${pdf_sources}=${prefix})
    endif()
endfunction()

set(zlib_dir ${pdf_sources}/zlib)
add_library(configurator_zlib STATIC
    ${zlib_dir}/adler32.c ${zlib_dir}/compress.c ${zlib_dir}/crc32.c ${zlib_dir}/deflate.c
    ${zlib_dir}/infback.c ${zlib_dir}/inffast.c ${zlib_dir}/inflate.c ${zlib_dir}/inftrees.c
    ${zlib_dir}/trees.c ${zlib_dir}/uncompr.c ${zlib_dir}/zutil.c)
target_include_directories(configurator_zlib SYSTEM PUBLIC ${zlib_dir})
configurator_foreign_library(configurator_zlib zlib)

set(haru_dir ${pdf_sources}/libharu)
file(GLOB haru_sources ${haru_dir}/src/hpdf_*.c)
# The configuration that libharu's own build would write: no libpng, zlib compiled in.
set(haru_config ${CMAKE_BINARY_DIR}/libharu-config)
file(WRITE ${haru_config}/hpdf_config.h
     "#ifndef _INCLUDE_HPDF_CONFIG_H\n#define _INCLUDE_HPDF_CONFIG_H 1\n"
     "#define LIBHPDF_HAVE_LIBZ 1\n#define LIBHPDF_HAVE_NOPNGLIB 1\n#define HPDF_NOPNGLIB 1\n"
     "#define LIBHPDF_HAVE_STDLIB_H 1\n#define LIBHPDF_HAVE_STRING_H 1\n#endif\n")
add_library(configurator_haru STATIC ${haru_sources})
target_include_directories(configurator_haru SYSTEM PUBLIC ${haru_config} ${haru_dir}/include)
target_link_libraries(configurator_haru PUBLIC configurator_zlib)
configurator_foreign_library(configurator_haru libharu)

set(qr_dir ${pdf_sources}/qr-code-generator/c)
add_library(configurator_qrcodegen STATIC ${qr_dir}/qrcodegen.c)
target_include_directories(configurator_qrcodegen SYSTEM PUBLIC ${qr_dir})
configurator_foreign_library(configurator_qrcodegen qrcodegen)

add_library(configurator_hpdf INTERFACE)
target_link_libraries(configurator_hpdf INTERFACE configurator_haru configurator_qrcodegen)
