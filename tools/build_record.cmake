# Writes ${OUTPUT}, a Kiv source run at start-up after the library: it sets
# system/build/date to the time of configuring (UTC), system/build/download
# to KIV_DOWNLOAD_URL, and system/build/git to the version-control record of
# the source tree (branch, tag, commits ahead of the tag, commit date in UTC,
# commit, subject) when it is a git checkout, else to none. Texts travel as
# UTF-8 bytes in binary! literals, so no quoting can break the source.
# Included from CMakeLists.txt with OUTPUT and KIV_DOWNLOAD_URL set.

function(kiv_text_literal out text)
  string(HEX "${text}" hex)
  set(${out} "to string! #{${hex}}" PARENT_SCOPE)
endfunction()

function(kiv_git out)
  execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} ${ARGN}
                  OUTPUT_VARIABLE text RESULT_VARIABLE status ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(status EQUAL 0)
    set(${out} "${text}" PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

string(TIMESTAMP kiv_build_date "%d-%b-%Y/%H:%M:%S" UTC)
set(kiv_git_record "none")
find_program(KIV_GIT_PROGRAM git)
if(KIV_GIT_PROGRAM)
  kiv_git(commit rev-parse --verify HEAD)
endif()
if(KIV_GIT_PROGRAM AND commit MATCHES "^[0-9a-f]+$")
  kiv_git(branch rev-parse --abbrev-ref HEAD)
  kiv_git(tag describe --tags --abbrev=0)
  kiv_git(seconds log -1 --format=%ct)
  kiv_git(subject log -1 --format=%s)
  if(tag)
    kiv_git(ahead rev-list --count ${tag}..HEAD)
    kiv_text_literal(tag_text "${tag}")
    set(tag_value "to issue! ${tag_text}")
  else()
    kiv_git(ahead rev-list --count HEAD)
    set(tag_value "none")
  endif()
  if(NOT ahead MATCHES "^[0-9]+$")
    set(ahead 0)
  endif()
  if(NOT seconds MATCHES "^[0-9]+$")
    set(seconds 0)
  endif()
  kiv_text_literal(branch_text "${branch}")
  kiv_text_literal(subject_text "${subject}")
  set(kiv_git_record "make object! [
	branch: ${branch_text}
	tag: ${tag_value}
	ahead: ${ahead}
	date: to date! ${seconds}
	commit: to issue! \"${commit}\"
	message: ${subject_text}
]")
endif()

file(WRITE ${OUTPUT}.tmp "Kiv [
	Title: \"The build's record\"
	Purpose: \"Made when the build is configured: its date, download page and version-control record\"
]

system/build/date: ${kiv_build_date}
system/build/download: ${KIV_DOWNLOAD_URL}
system/build/git: ${kiv_git_record}
")
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different ${OUTPUT}.tmp ${OUTPUT})
