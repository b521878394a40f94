# The README's application, as the README gives it: installs the build into a
# fresh prefix, takes the CMake and C++ blocks of "For application
# developers" word for word, builds them against the prefix alone and runs
# the result on the installed samples; then the installed example program,
# which must be that same source, and the installed viewer, which must find
# the installed samples by itself.
#   cmake -DBUILD_DIR= -DSOURCE_DIR= -DWORK_DIR= -DCXX= -DFLAGS= -P run_readme_example.cmake
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
set(app ${WORK_DIR}/app)

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err
                  WORKING_DIRECTORY ${WORK_DIR})
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} failed (${status}):\n${out}\n${err}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

# The first block of `kind` after `from` in `text`.
function(readme_block text kind from result)
  string(FIND "${text}" "${from}" start)
  if(start EQUAL -1)
    message(FATAL_ERROR "README: no \"${from}\"")
  endif()
  string(SUBSTRING "${text}" ${start} -1 rest)
  string(FIND "${rest}" "```${kind}\n" open)
  if(open EQUAL -1)
    message(FATAL_ERROR "README: no ${kind} block after \"${from}\"")
  endif()
  string(LENGTH "```${kind}\n" skip)
  math(EXPR open "${open} + ${skip}")
  string(SUBSTRING "${rest}" ${open} -1 rest)
  string(FIND "${rest}" "```" close)
  string(SUBSTRING "${rest}" 0 ${close} body)
  set(${result} "${body}" PARENT_SCOPE)
endfunction()

file(READ ${SOURCE_DIR}/README.md readme)
readme_block("${readme}" cmake "## For application developers" cmake_block)
readme_block("${readme}" cpp "## For application developers" cpp_block)
file(WRITE ${app}/CMakeLists.txt "${cmake_block}")
file(WRITE ${app}/main.cpp "${cpp_block}")
file(READ ${SOURCE_DIR}/example/main.cpp installed_source)
if(NOT installed_source STREQUAL cpp_block)
  message(FATAL_ERROR "the README's application is not example/main.cpp, the installed example")
endif()

run("installing the build" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run("configuring the README's application" ${CMAKE_COMMAND} -S ${app} -B ${app}/build
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX}
    "-DCMAKE_CXX_FLAGS=${FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${FLAGS}")
run("building the README's application" ${CMAKE_COMMAND} --build ${app}/build)

# Every result the application gets is checked by it; what it measured is
# checked here: the sample stands 2 units tall.
function(check_walks program)
  run("running ${program}" ${program} ${prefix}/share/rigweave)
  if(NOT output MATCHES "hero.cfg walks, ([0-9.]+) units tall")
    message(FATAL_ERROR "${program} said:\n${output}")
  endif()
  if(CMAKE_MATCH_1 LESS 1.8 OR CMAKE_MATCH_1 GREATER 2.3)
    message(FATAL_ERROR "${program}: the sample stood ${CMAKE_MATCH_1} units tall, not about 2")
  endif()
  message("${program}: ${CMAKE_MATCH_1} units tall")
endfunction()
check_walks(${app}/build/rigweave-example)
check_walks(${prefix}/bin/rigweave-example)

# The installed viewer, started where there is no models/, lists the
# installed samples.
if(NOT EXISTS ${prefix}/bin/rigweave-view)
  return()  # built without the viewer
endif()
file(MAKE_DIRECTORY ${WORK_DIR}/elsewhere)
execute_process(COMMAND ${prefix}/bin/rigweave-view --list large.cfg
                WORKING_DIRECTORY ${WORK_DIR}/elsewhere
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0 OR NOT out MATCHES "large.cfg")
  message(FATAL_ERROR "the installed viewer found no samples (${status}):\n${out}\n${err}")
endif()
