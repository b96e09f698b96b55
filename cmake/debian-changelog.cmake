# The Debian changelog made from CHANGELOG.md, so that the versions and what changed are
# written once. CHANGELOG.md holds one section per version, newest first:
#
#   ## 1.1.0 (2026-12-07 20:00 UTC)
#
#   - What changed, on as many lines as it takes,
#     each further line indented by two blanks.
#
# Each item becomes one entry of the version's stanza, its lines kept as written. The newest
# section has to be the project's version: a version without its changes fails the configure.

# Day of the week (0 = Sunday) of a date in the Gregorian calendar (Sakamoto's method).
function(configurator_weekday year month day out)
    set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
    math(EXPR index "${month} - 1")
    list(GET offsets ${index} offset)
    if(month LESS 3)
        math(EXPR year "${year} - 1")
    endif()
    math(EXPR weekday
         "(${year} + ${year} / 4 - ${year} / 100 + ${year} / 400 + ${offset} + ${day}) % 7")
    set(${out} ${weekday} PARENT_SCOPE)
endfunction()

# Writes `output` from `markdown` for `package`, signed by `maintainer` ("Name <address>").
function(configurator_debian_changelog markdown output package maintainer)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${markdown})
    file(READ ${markdown} text)
    # CMake lists split at ';' and group at brackets; the text may hold either.
    string(REPLACE ";" "@SEMICOLON@" text "${text}")
    string(REPLACE "[" "@OPEN@" text "${text}")
    string(REPLACE "]" "@CLOSE@" text "${text}")
    string(REPLACE "\n" ";" lines "${text}")

    set(day_names Sun Mon Tue Wed Thu Fri Sat)
    set(month_names Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    set(heading_pattern
        "^## ([0-9]+\\.[0-9]+\\.[0-9]+) \\(([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9]) ([0-9][0-9]:[0-9][0-9]) UTC\\)$")
    set(result "")
    set(trailer "")
    set(versions "")
    foreach(line IN LISTS lines)
        if(line MATCHES "^## ")
            if(NOT line MATCHES "${heading_pattern}")
                message(FATAL_ERROR "${markdown}: a version's heading reads '${line}', "
                                    "not '## 1.2.3 (YYYY-MM-DD HH:MM UTC)'")
            endif()
            set(version ${CMAKE_MATCH_1})
            set(year ${CMAKE_MATCH_2})
            set(month ${CMAKE_MATCH_3})
            set(day ${CMAKE_MATCH_4})
            set(time ${CMAKE_MATCH_5})
            # Leading zeros would make math() read the numbers as octal.
            string(REGEX REPLACE "^0" "" month_number ${month})
            string(REGEX REPLACE "^0" "" day_number ${day})
            configurator_weekday(${year} ${month_number} ${day_number} weekday)
            list(GET day_names ${weekday} day_name)
            math(EXPR month_index "${month_number} - 1")
            list(GET month_names ${month_index} month_name)
            string(APPEND result "${trailer}${package} (${version}) unstable; urgency=medium\n\n")
            set(trailer "\n -- ${maintainer}  ${day_name}, ${day} ${month_name} ${year} ${time}:00 +0000\n\n")
            list(APPEND versions ${version})
        elseif(versions STREQUAL "" OR line STREQUAL "")
            # The file's title and introduction, and the blank lines between items.
        elseif(line MATCHES "^- (.*)")
            string(APPEND result "  * ${CMAKE_MATCH_1}\n")
        elseif(line MATCHES "^  (.*)")
            string(APPEND result "    ${CMAKE_MATCH_1}\n")
        else()
            message(FATAL_ERROR "${markdown}: under ${version}, '${line}' is neither an item "
                                "('- ') nor an item's further line (two blanks)")
        endif()
    endforeach()
    if(versions STREQUAL "")
        message(FATAL_ERROR "${markdown} holds no version")
    endif()
    list(GET versions 0 newest)
    if(NOT newest STREQUAL PROJECT_VERSION)
        message(FATAL_ERROR "${markdown} begins with ${newest}, but the project is version "
                            "${PROJECT_VERSION}: add a section for ${PROJECT_VERSION} on top")
    endif()
    # The stanzas end with the signature line; the file with one newline.
    string(REGEX REPLACE "\n\n$" "\n" trailer "${trailer}")
    string(APPEND result "${trailer}")
    string(REPLACE "@SEMICOLON@" ";" result "${result}")
    string(REPLACE "@OPEN@" "[" result "${result}")
    string(REPLACE "@CLOSE@" "]" result "${result}")
    # Rewritten only when it changes, so that the package's copy is not remade at every configure.
    file(WRITE ${output}.new "${result}")
    configure_file(${output}.new ${output} COPYONLY)
    file(REMOVE ${output}.new)
endfunction()
