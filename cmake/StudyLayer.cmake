# The study layer: a second library, libtavrin_study, above the plan object.
# It links libtavrin for the plan-file bridge and links the plan object's
# kernel objects (tavrin_kernels: the plan generators, the LPtau sequence and
# the block evaluator) into itself, hidden, so libtavrin keeps exporting
# nothing but CTavrin, Result and the search's interrupt (interruptible.h).

find_package(Eigen3 3.4 CONFIG REQUIRED)
find_package(NLopt CONFIG REQUIRED)
find_package(nlohmann_json 3.10 CONFIG REQUIRED)
find_package(Boost 1.74 REQUIRED)   # Boost.Math is header-only
find_package(Threads REQUIRED)

# One object library per area, so that the unit tests of one area build
# without the others.
function(tavrin_layer_area name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/${name}/*.cpp)
  if(NOT sources)
    return()
  endif()
  set(TAVRIN_LAYER_OBJECTS ${TAVRIN_LAYER_OBJECTS} $<TARGET_OBJECTS:tavrin_${name}_core> PARENT_SCOPE)
  add_library(tavrin_${name}_core OBJECT ${sources})
  target_include_directories(tavrin_${name}_core PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/src>)
  target_compile_definitions(tavrin_${name}_core PUBLIC TAVRIN_BUILDING_LAYER)
  set_target_properties(tavrin_${name}_core PROPERTIES
    POSITION_INDEPENDENT_CODE ON CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
    UNITY_BUILD ${TAVRIN_UNITY_BUILD} UNITY_BUILD_BATCH_SIZE ${TAVRIN_UNITY_BATCH_SIZE})
  target_link_libraries(tavrin_${name}_core PUBLIC tavrin_options Eigen3::Eigen Boost::headers
                        NLopt::nlopt nlohmann_json::nlohmann_json Threads::Threads)
endfunction()
tavrin_layer_area(designs)
tavrin_layer_area(study)
tavrin_layer_area(analysis)
tavrin_layer_area(optimum)
tavrin_layer_area(views)
# Its kernels are compiled three times over with per-instruction-set macros.
set_source_files_properties(src/optimum/sample_kernels.cpp PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)

add_library(tavrin_study SHARED $<TARGET_OBJECTS:tavrin_kernels> ${TAVRIN_LAYER_OBJECTS})
add_library(Tavrin::study ALIAS tavrin_study)
target_include_directories(tavrin_study PUBLIC
  $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_link_libraries(tavrin_study PUBLIC tavrin
  PRIVATE $<BUILD_INTERFACE:tavrin_options> NLopt::nlopt Threads::Threads)
if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  target_link_options(tavrin_study PRIVATE -Wl,--no-undefined)
endif()
set_target_properties(tavrin_study PROPERTIES
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR}
  EXPORT_NAME study
  CXX_VISIBILITY_PRESET hidden
  INSTALL_RPATH "$ORIGIN")   # finds the installed libtavrin beside itself

install(TARGETS tavrin_study EXPORT TavrinTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The command line, `tavrin`, in its own top-level folder.
if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/cli/CMakeLists.txt)
  add_subdirectory(cli)
endif()

configure_file(cmake/tavrin-study.pc.in ${CMAKE_CURRENT_BINARY_DIR}/tavrin-study.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tavrin-study.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
