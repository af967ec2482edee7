# The release this source tree makes, read from the newest entry of the package's changelog
# (app/linux/changelog.in): its version must be the project's, and its date is the date of the
# release everywhere one is shown (manual pages, metainfo) and of the files inside the packages.
# So the same sources make the same packages whenever they are built; a new release is a new
# changelog entry.

# Debian packages name a maintainer with a mail address. The project has no mailbox: whoever
# publishes the package sets their own here; the default says that there is none, in the
# reserved top-level domain that never resolves.
set(KV5_PACKAGE_MAINTAINER "kv5update maintainers <no-mailbox@kv5update.invalid>" CACHE STRING
    "Maintainer named in the Debian package and its changelog: \"Name <address>\"")

set(KV5_CHANGELOG "${PROJECT_SOURCE_DIR}/app/linux/changelog.in")
file(STRINGS "${KV5_CHANGELOG}" heading LIMIT_COUNT 1)
if(NOT heading MATCHES "^${PROJECT_NAME} \\(([^)]+)\\) ")
  message(FATAL_ERROR "${KV5_CHANGELOG}: the first line is not an entry's heading: ${heading}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "${KV5_CHANGELOG}: the newest entry is for ${CMAKE_MATCH_1}, the project "
                      "is ${PROJECT_VERSION}: add an entry for the release")
endif()

file(STRINGS "${KV5_CHANGELOG}" trailers REGEX "^ -- ")
list(GET trailers 0 trailer)
set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
if(NOT trailer MATCHES "  [A-Z][a-z][a-z], ([0-9]?[0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ([0-9][0-9]):([0-9][0-9]):([0-9][0-9]) ([-+])([0-9][0-9])([0-9][0-9])$")
  message(FATAL_ERROR "${KV5_CHANGELOG}: the newest entry's date is not in the changelog's form "
                      "(Thu, 10 Dec 2026 00:00:00 +0000): ${trailer}")
endif()
set(day ${CMAKE_MATCH_1})
list(FIND months ${CMAKE_MATCH_2} month)
math(EXPR month "${month} + 1")
set(year ${CMAKE_MATCH_3})
math(EXPR offset "${CMAKE_MATCH_7}(${CMAKE_MATCH_8} * 3600 + ${CMAKE_MATCH_9} * 60)")
math(EXPR clock "${CMAKE_MATCH_4} * 3600 + ${CMAKE_MATCH_5} * 60 + ${CMAKE_MATCH_6}")
if(month EQUAL 0)
  message(FATAL_ERROR "${KV5_CHANGELOG}: no such month in the newest entry's date: ${trailer}")
endif()

# The day as written, and the time in seconds since 1970-01-01 UTC (the civil-calendar day count
# over 400-year eras, for years from 1970 on).
math(EXPR padded "10000 * ${year} + 100 * ${month} + ${day}")
string(REGEX REPLACE "^(....)(..)(..)$" "\\1-\\2-\\3" KV5_RELEASE_DAY "${padded}")
set(shifted ${year})
if(month LESS_EQUAL 2)
  math(EXPR shifted "${year} - 1")
  math(EXPR month_from_march "${month} + 9")
else()
  math(EXPR month_from_march "${month} - 3")
endif()
math(EXPR era "${shifted} / 400")
math(EXPR year_of_era "${shifted} - ${era} * 400")
math(EXPR day_of_year "(153 * ${month_from_march} + 2) / 5 + ${day} - 1")
math(EXPR day_of_era
     "${year_of_era} * 365 + ${year_of_era} / 4 - ${year_of_era} / 100 + ${day_of_year}")
math(EXPR KV5_RELEASE_EPOCH
     "(${era} * 146097 + ${day_of_era} - 719468) * 86400 + ${clock} - ${offset}")
