# SQLite for the Windows builds. Windows has no SQLite of its own to link against, and a DLL
# beside the programs would break their running copied alone; so SQLite is compiled into them,
# from the single-file amalgamation that scripts/sqlite-source.sh makes out of Debian's sqlite3
# source package, the same SQLite that Linux builds link from libsqlite3-dev. The library takes
# the name FindSQLite3 gives the system's one, SQLite::SQLite3, so that whoever links SQLite
# needs no case of its own for Windows.
set(CONFIGURATOR_SQLITE_AMALGAMATION "" CACHE PATH
    "Folder with SQLite's sqlite3.c and sqlite3.h for Windows (scripts/sqlite-source.sh prints it)")
set(configurator_sqlite_dir ${CONFIGURATOR_SQLITE_AMALGAMATION})
if(NOT EXISTS "${configurator_sqlite_dir}/sqlite3.c"
   OR NOT EXISTS "${configurator_sqlite_dir}/sqlite3.h")
    message(FATAL_ERROR
        "The Windows build compiles SQLite in, and CONFIGURATOR_SQLITE_AMALGAMATION "
        "('${CONFIGURATOR_SQLITE_AMALGAMATION}') is no folder with sqlite3.c and sqlite3.h. "
        "On Debian, scripts/sqlite-source.sh build-sqlite makes them and prints the folder to "
        "pass as -DCONFIGURATOR_SQLITE_AMALGAMATION=...; make windows, make release and the Wine "
        "tests do it themselves.")
endif()

enable_language(C)
add_library(sqlite3_static STATIC ${configurator_sqlite_dir}/sqlite3.c)
target_include_directories(sqlite3_static SYSTEM PUBLIC ${configurator_sqlite_dir})
# Serialized, as the programs may reach a database from more than one thread. No extensions
# loaded at run time: nothing here needs one, and SQL should have no way to load a DLL. Double
# quotes for identifiers only: otherwise a misspelt column in them passes silently as a string.
target_compile_definitions(sqlite3_static PRIVATE
    SQLITE_THREADSAFE=1
    SQLITE_OMIT_LOAD_EXTENSION
    SQLITE_DQS=0
)
# Not our code: its warnings are upstream's to weigh, and -Werror must not stop our build on them.
if(MSVC)
    target_compile_options(sqlite3_static PRIVATE /w)
else()
    target_compile_options(sqlite3_static PRIVATE -w)
endif()
# The amalgamation lies outside the source and build folders that cmake/reproducible.cmake
# maps: whatever of its path reached a program (debug information, an assertion's __FILE__)
# would name the folder where that release was made.
if(CONFIGURATOR_REPRODUCIBLE AND NOT MSVC)
    target_compile_options(sqlite3_static PRIVATE
                           -ffile-prefix-map=${configurator_sqlite_dir}=sqlite)
endif()
add_library(SQLite::SQLite3 ALIAS sqlite3_static)
