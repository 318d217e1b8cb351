# mervo_source_date_epoch(OUT SOURCE_DIR): the one time a build may record,
# in seconds since 1970 (UTC): SOURCE_DATE_EPOCH from the environment when it
# is set, else the time of the last commit of SOURCE_DIR, else 0 (a tree
# without git history). Read when the distribution is made, so a new commit
# needs no new configure run.
function(mervo_source_date_epoch out source_dir)
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(epoch "$ENV{SOURCE_DATE_EPOCH}")
  else()
    set(epoch 0)
    find_program(MERVO_GIT git)
    if(MERVO_GIT)
      execute_process(COMMAND ${MERVO_GIT} log -1 --format=%ct
        WORKING_DIRECTORY ${source_dir}
        OUTPUT_VARIABLE commit_time OUTPUT_STRIP_TRAILING_WHITESPACE
        RESULT_VARIABLE result ERROR_QUIET)
      if(result EQUAL 0 AND commit_time MATCHES "^[0-9]+$")
        set(epoch ${commit_time})
      endif()
    endif()
  endif()
  if(NOT epoch MATCHES "^[0-9]+$")
    message(FATAL_ERROR "SOURCE_DATE_EPOCH must be a number of seconds, not '${epoch}'")
  endif()
  set(${out} ${epoch} PARENT_SCOPE)
endfunction()
