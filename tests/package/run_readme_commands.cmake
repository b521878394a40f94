# The README's commands for one's own character and for the window, taken
# from the README word for word and run as a reader would: in a folder whose
# build/ is this build, with a home folder holding an exported character
# (the sample's files under an exporter's names, paladin_walk.caf among
# them), then the command the importer prints and the animation names the
# README promises after an import.
#   cmake -DBUILD_DIR= -DSOURCE_DIR= -DWORK_DIR= -P run_readme_commands.cmake
file(REMOVE_RECURSE ${WORK_DIR})
set(home ${WORK_DIR}/home)
set(here ${WORK_DIR}/here)
file(MAKE_DIRECTORY ${home}/exports/paladin ${here})
file(CREATE_LINK ${BUILD_DIR} ${here}/build SYMBOLIC)

set(models ${BUILD_DIR}/models)
set(export ${home}/exports/paladin)
foreach(pair hero.csf:paladin.csf idle.caf:paladin_idle.caf walk.caf:paladin_walk.caf
             hero_body.cmf:paladin_body.cmf hero_gear.cmf:paladin_gear.cmf)
  string(REPLACE ":" ";" pair ${pair})
  list(GET pair 0 from)
  list(GET pair 1 to)
  file(COPY_FILE ${models}/${from} ${export}/${to})
endforeach()
set(config "# exported\nscale = 1.0\nskeleton = paladin.csf\n")
string(APPEND config "animation = paladin_idle.caf\nanimation = paladin_walk.caf\n")
string(APPEND config "mesh = paladin_body.cmf\nmesh = paladin_gear.cmf\n")
foreach(part skin shirt trousers belt boots hair)
  file(COPY ${models}/${part}.crf DESTINATION ${export})
  if(EXISTS ${models}/${part}.raw)
    file(COPY ${models}/${part}.raw DESTINATION ${export})
  endif()
  string(APPEND config "material = ${part}.crf\n")
endforeach()
file(WRITE ${export}/paladin.cfg "${config}")

# Runs `line` through the shell as typed; its standard output in `output`.
function(run line)
  execute_process(COMMAND sh -c "${line}" WORKING_DIRECTORY ${here}
                  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "`${line}` failed (${status}):\n${out}\n${err}")
  endif()
  message("ran `${line}`")
  set(output "${out}" PARENT_SCOPE)
endfunction()

# The lines of the README's first sh block after `heading`, comments cut.
function(readme_lines heading result)
  file(READ ${SOURCE_DIR}/README.md readme)
  string(FIND "${readme}" "${heading}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "README: no \"${heading}\"")
  endif()
  string(SUBSTRING "${readme}" ${at} -1 rest)
  string(FIND "${rest}" "```sh\n" open)
  math(EXPR open "${open} + 6")
  string(SUBSTRING "${rest}" ${open} -1 rest)
  string(FIND "${rest}" "```" close)
  string(SUBSTRING "${rest}" 0 ${close} block)
  string(REGEX REPLACE " *#[^\n]*" "" block "${block}")
  string(REGEX REPLACE "\n$" "" block "${block}")
  string(REPLACE "\n" ";" lines "${block}")
  set(${result} "${lines}" PARENT_SCOPE)
endfunction()

set(ENV{HOME} ${home})
set(ENV{PATH} "${BUILD_DIR}/bin:$ENV{PATH}")

# "Before importing, `...` already shows it".
file(READ ${SOURCE_DIR}/README.md readme)
if(NOT readme MATCHES "Before importing, `([^`]*)` already shows it")
  message(FATAL_ERROR "README: no command before importing")
endif()
run("${CMAKE_MATCH_1}")

readme_lines("## Your own character" own)
list(LENGTH own count)
if(NOT count EQUAL 2)
  message(FATAL_ERROR "README: \"Your own character\" gives ${count} commands, not 2")
endif()
list(GET own 0 import)
list(GET own 1 view)
run("${import}")
if(NOT output MATCHES "show it: ([^\n]*)")
  message(FATAL_ERROR "the importer names no command to show it:\n${output}")
endif()
set(show "${CMAKE_MATCH_1}")
run("${view}")
if(NOT EXISTS ${home}/pictures/frame_0023.png OR NOT EXISTS ${home}/pictures/sheet.png)
  message(FATAL_ERROR "`${view}` wrote no pictures into ~/pictures")
endif()
run("${show}")
if(NOT EXISTS ${here}/paladin-pictures/frame_0000.png)
  message(FATAL_ERROR "`${show}` wrote no pictures")
endif()
# "an exported `animation = paladin_walk.caf` is `paladin/paladin_walk` after
# the import, or `paladin_walk` by its base name".
foreach(name paladin/paladin_walk paladin_walk)
  run("build/bin/rigweave-view --root ~/imported paladin.cfg --cycle ${name} --frames 1")
endforeach()

# The window under a virtual display, where there is one to start.
find_program(XVFB_RUN xvfb-run)
if(XVFB_RUN)
  readme_lines("### Opening the window" window)
  list(GET window 1 shot)
  run("${shot}")
  if(NOT EXISTS ${here}/shot.png)
    message(FATAL_ERROR "`${shot}` wrote no shot.png")
  endif()
endif()
