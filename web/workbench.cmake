# The browser workbench, `tavrin serve`: its sources in the command line
# and its page beside the executable. Included from cli/CMakeLists.txt.
# TAVRIN_WORKBENCH=OFF leaves it out: `tavrin serve` then only says so.
#
# The page is plain HTML, CSS and ES modules; its one dependency, Plotly,
# comes from npm (web/package-lock.json) and is copied into the build and
# install trees, so the installed page needs no network.
option(TAVRIN_WORKBENCH "Build the browser workbench, tavrin serve (its page needs npm once, to fetch Plotly)" ON)

set(TAVRIN_WEB_SOURCE_DIR ${PROJECT_SOURCE_DIR}/web)
set(TAVRIN_WEB_BUILD_DIR ${CMAKE_CURRENT_BINARY_DIR}/web)
set(TAVRIN_PLOTLY ${TAVRIN_WEB_SOURCE_DIR}/node_modules/plotly.js-dist-min/plotly.min.js)

# Without npm on a fresh clone the build goes on without the workbench and
# says so; `tavrin serve` then explains how to get it.
set(workbench_built ${TAVRIN_WORKBENCH})
if(TAVRIN_WORKBENCH AND NOT EXISTS ${TAVRIN_PLOTLY})
  find_program(TAVRIN_NPM npm)
  if(NOT TAVRIN_NPM)
    message(WARNING "Building without the workbench (tavrin serve): its page needs npm to fetch Plotly "
                    "(web/package.json). Install it with tools/deps.sh browser and configure again, or "
                    "configure with -DTAVRIN_WORKBENCH=OFF to leave the workbench out without this warning.")
    set(workbench_built OFF)
  endif()
endif()
if(NOT workbench_built)
  target_sources(tavrin_cli PRIVATE ${PROJECT_SOURCE_DIR}/cli/serve_absent.cpp)
  return()
endif()

find_package(PkgConfig REQUIRED)
pkg_check_modules(CPPHTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
find_package(Threads REQUIRED)

# npm ci when the packages are missing (a fresh clone).
if(NOT EXISTS ${TAVRIN_PLOTLY})
  message(STATUS "Workbench: npm ci in ${TAVRIN_WEB_SOURCE_DIR}")
  execute_process(COMMAND ${TAVRIN_NPM} ci --no-audit --no-fund --loglevel=error
                  WORKING_DIRECTORY ${TAVRIN_WEB_SOURCE_DIR} RESULT_VARIABLE npm_result)
  if(NOT npm_result EQUAL 0 OR NOT EXISTS ${TAVRIN_PLOTLY})
    message(FATAL_ERROR "npm ci in ${TAVRIN_WEB_SOURCE_DIR} failed (${npm_result})")
  endif()
endif()

target_sources(tavrin_cli PRIVATE
  ${PROJECT_SOURCE_DIR}/cli/serve.cpp
  ${PROJECT_SOURCE_DIR}/cli/serve_api.cpp
  ${PROJECT_SOURCE_DIR}/cli/serve_assets.cpp
  ${PROJECT_SOURCE_DIR}/cli/serve_guard.cpp)
target_link_libraries(tavrin_cli PRIVATE PkgConfig::CPPHTTPLIB Threads::Threads)

# The installed executable finds the page at this path from its folder.
file(RELATIVE_PATH web_from_bindir ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR}/tavrin/web)
set_property(SOURCE ${PROJECT_SOURCE_DIR}/cli/serve_assets.cpp APPEND PROPERTY
             COMPILE_DEFINITIONS TAVRIN_WEB_FROM_BINDIR="${web_from_bindir}")

# The page in the build tree, beside the executable: web/ without its npm
# files, plus Plotly and its licence under vendor/.
file(GLOB_RECURSE web_pages CONFIGURE_DEPENDS RELATIVE ${TAVRIN_WEB_SOURCE_DIR}
     ${TAVRIN_WEB_SOURCE_DIR}/*.html ${TAVRIN_WEB_SOURCE_DIR}/*.css ${TAVRIN_WEB_SOURCE_DIR}/js/*.js)
list(FILTER web_pages EXCLUDE REGEX "^node_modules/")
set(web_outputs)
foreach(page IN LISTS web_pages)
  add_custom_command(OUTPUT ${TAVRIN_WEB_BUILD_DIR}/${page}
                     COMMAND ${CMAKE_COMMAND} -E copy ${TAVRIN_WEB_SOURCE_DIR}/${page} ${TAVRIN_WEB_BUILD_DIR}/${page}
                     DEPENDS ${TAVRIN_WEB_SOURCE_DIR}/${page} VERBATIM)
  list(APPEND web_outputs ${TAVRIN_WEB_BUILD_DIR}/${page})
endforeach()
add_custom_command(OUTPUT ${TAVRIN_WEB_BUILD_DIR}/vendor/plotly.min.js ${TAVRIN_WEB_BUILD_DIR}/vendor/plotly-LICENSE.txt
                   COMMAND ${CMAKE_COMMAND} -E copy ${TAVRIN_PLOTLY} ${TAVRIN_WEB_BUILD_DIR}/vendor/plotly.min.js
                   COMMAND ${CMAKE_COMMAND} -E copy ${TAVRIN_WEB_SOURCE_DIR}/node_modules/plotly.js-dist-min/LICENSE
                           ${TAVRIN_WEB_BUILD_DIR}/vendor/plotly-LICENSE.txt
                   DEPENDS ${TAVRIN_WEB_SOURCE_DIR}/package-lock.json VERBATIM)
list(APPEND web_outputs ${TAVRIN_WEB_BUILD_DIR}/vendor/plotly.min.js ${TAVRIN_WEB_BUILD_DIR}/vendor/plotly-LICENSE.txt)
add_custom_target(tavrin_web_assets DEPENDS ${web_outputs})
add_dependencies(tavrin_cli tavrin_web_assets)

install(DIRECTORY ${TAVRIN_WEB_BUILD_DIR}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tavrin/web)
