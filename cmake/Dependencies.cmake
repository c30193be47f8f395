# Imported targets for the static dependencies that scripts/bootstrap builds.
if(NOT VT_DEPS_PREFIX OR NOT EXISTS "${VT_DEPS_PREFIX}/.complete")
    message(FATAL_ERROR "VT_DEPS_PREFIX must name a finished scripts/bootstrap prefix")
endif()

function(vt_import name lib)
    add_library(${name} STATIC IMPORTED GLOBAL)
    set_target_properties(${name} PROPERTIES
        IMPORTED_LOCATION "${VT_DEPS_PREFIX}/lib/${lib}"
        INTERFACE_INCLUDE_DIRECTORIES "${VT_DEPS_PREFIX}/include")
    if(ARGN)
        set_target_properties(${name} PROPERTIES INTERFACE_LINK_LIBRARIES "${ARGN}")
    endif()
endfunction()

# zlib comes from Debian's libz-mingw-w64-dev in the toolchain's own tree.
add_library(dep_zlib STATIC IMPORTED GLOBAL)
set_target_properties(dep_zlib PROPERTIES IMPORTED_LOCATION /usr/i686-w64-mingw32/lib/libz.a)

vt_import(dep_jpeg   libjpeg.a)
vt_import(dep_png    libpng16.a dep_zlib)
vt_import(dep_tiff   libtiff.a  dep_jpeg dep_zlib)
vt_import(dep_crypto libcrypto.a ws2_32 crypt32 advapi32 user32 gdi32)
vt_import(dep_ssl    libssl.a   dep_crypto)
# The program speaks the 1.0.2 API (fixed client methods by version).
set_target_properties(dep_ssl PROPERTIES INTERFACE_COMPILE_DEFINITIONS
    "OPENSSL_API_COMPAT=0x10002000L;OPENSSL_SUPPRESS_DEPRECATED")
vt_import(dep_gtest  libgtest.a)
vt_import(dep_gtest_main libgtest_main.a dep_gtest)
