# libpq and OpenSSL for the Windows builds, linked statically like SQLite: a DLL beside the
# programs would break their running copied alone. scripts/mingw-libs.sh cross-builds them from
# Debian's postgresql-15 and openssl source packages, the same libpq and libcrypto that Linux
# builds link from libpq-dev and libssl-dev. The targets take the names that Linux builds find:
# OpenSSL::Crypto (FindOpenSSL) and PostgreSQL::PostgreSQL (FindPostgreSQL), so whoever links
# them needs no case of its own for Windows.
set(CONFIGURATOR_LIBPQ_MINGW "" CACHE PATH
    "Folder with libpq and OpenSSL built for Windows (scripts/mingw-libs.sh prints it)")
set(configurator_libpq_dir ${CONFIGURATOR_LIBPQ_MINGW})
foreach(library libpq libpgcommon_shlib libpgport_shlib libssl libcrypto)
    if(NOT EXISTS "${configurator_libpq_dir}/lib/${library}.a")
        message(FATAL_ERROR
            "The Windows build links libpq and OpenSSL in, and CONFIGURATOR_LIBPQ_MINGW "
            "('${CONFIGURATOR_LIBPQ_MINGW}') is no folder with lib/${library}.a. On Debian, "
            "scripts/mingw-libs.sh build-mingw-libs builds them and prints the folder to pass as "
            "-DCONFIGURATOR_LIBPQ_MINGW=...; make windows, make release and the Wine tests do it "
            "themselves.")
    endif()
endforeach()

# The system DLLs each one calls: sockets, the certificate store, the random source, the
# Windows logins (SSPI) and the user's folders (%APPDATA%\postgresql\pgpass.conf).
add_library(OpenSSL::Crypto STATIC IMPORTED GLOBAL)
set_target_properties(OpenSSL::Crypto PROPERTIES
    IMPORTED_LOCATION ${configurator_libpq_dir}/lib/libcrypto.a
    INTERFACE_INCLUDE_DIRECTORIES ${configurator_libpq_dir}/include
    INTERFACE_LINK_LIBRARIES "ws2_32;gdi32;crypt32;bcrypt;advapi32;user32")
add_library(OpenSSL::SSL STATIC IMPORTED GLOBAL)
set_target_properties(OpenSSL::SSL PROPERTIES
    IMPORTED_LOCATION ${configurator_libpq_dir}/lib/libssl.a
    INTERFACE_LINK_LIBRARIES OpenSSL::Crypto)
add_library(PostgreSQL::PostgreSQL STATIC IMPORTED GLOBAL)
set_target_properties(PostgreSQL::PostgreSQL PROPERTIES
    IMPORTED_LOCATION ${configurator_libpq_dir}/lib/libpq.a
    INTERFACE_INCLUDE_DIRECTORIES ${configurator_libpq_dir}/include
    INTERFACE_LINK_LIBRARIES
        "${configurator_libpq_dir}/lib/libpgcommon_shlib.a;${configurator_libpq_dir}/lib/libpgport_shlib.a;OpenSSL::SSL;secur32;shell32;ws2_32")
