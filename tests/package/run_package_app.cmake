# Installs the build into a fresh prefix, then configures, builds and runs
# tests/package/app against that prefix alone, on the installed samples, and
# checks that the module it loaded is the installed one.
#   cmake -DBUILD_DIR= -DAPP_DIR= -DWORK_DIR= -DCXX= -DFLAGS= -P run_package_app.cmake
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} failed (${status}):\n${out}\n${err}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

run("installing the build" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
run("configuring the application" ${CMAKE_COMMAND} -S ${APP_DIR} -B ${WORK_DIR}/build
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CXX}
    "-DCMAKE_CXX_FLAGS=${FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${FLAGS}"
    -DCMAKE_BUILD_TYPE=RelWithDebInfo)
run("building the application" ${CMAKE_COMMAND} --build ${WORK_DIR}/build)
run("running the application" ${WORK_DIR}/build/rigweave-package-app ${prefix}/share/rigweave)
message("${output}")
string(FIND "${output}" "module ${prefix}/" at)
if(at EQUAL -1)
  message(FATAL_ERROR "the application did not load the module installed in ${prefix}")
endif()

# Every installed sample loads where it was installed, the files its
# configuration names in folders of their own included.
if(EXISTS ${prefix}/bin/rigweave-view)
  file(GLOB configurations ${prefix}/share/rigweave/models/*.cfg)
  foreach(configuration ${configurations})
    get_filename_component(name ${configuration} NAME)
    run("listing the installed ${name}" ${prefix}/bin/rigweave-view
        --root ${prefix}/share/rigweave --list --quiet ${name})
  endforeach()
endif()
