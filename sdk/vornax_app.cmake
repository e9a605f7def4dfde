# Builds a VornaX app with the app library, from an SDK directory or the launcher's checkout.
#
#   include(${VORNAX_SDK}/cmake/vornax_app.cmake)
#   vornax_app(main.c more.c)
#
# For the goggles (the toolchain file goggles.cmake) it writes two programs beside the
# manifest: `app`, static, which is what goes on the goggles, and `app.board`, its dynamically
# linked twin, which the virtual board runs in its place so that its library can answer the
# app's device calls as the goggles' devices would. Built for the host (no toolchain file),
# `app` is a host program for the board.
set(VORNAX_APP_DIR ${CMAKE_CURRENT_LIST_DIR}/..)
include(${CMAKE_CURRENT_LIST_DIR}/board_twin.cmake)

function(vornax_app)
  if(CMAKE_CROSSCOMPILING)
    set(lib ${VORNAX_APP_DIR}/lib/armhf/libvornax_app.a)
  else()
    set(lib ${VORNAX_APP_DIR}/lib/host/libvornax_app.a)
  endif()
  if(NOT EXISTS ${lib})
    message(FATAL_ERROR "no app library at ${lib}: is VORNAX_SDK the SDK's directory?")
  endif()
  add_executable(app ${ARGN})
  target_include_directories(app PRIVATE ${VORNAX_APP_DIR}/include)
  # The library is C++ without exceptions, allocation or run-time types: it needs nothing of
  # the C++ runtime, and a C program links it as it is.
  target_link_libraries(app PRIVATE ${lib})
  target_link_options(app PRIVATE -Wl,--gc-sections)
  set_target_properties(app PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
  if(CMAKE_CROSSCOMPILING)
    target_link_options(app PRIVATE -static)
    add_executable(app.board ${ARGN})
    target_include_directories(app.board PRIVATE ${VORNAX_APP_DIR}/include)
    target_link_libraries(app.board PRIVATE ${lib})
    target_link_options(app.board PRIVATE ${VX_BOARD_TWIN_LINK_OPTIONS})
    set_target_properties(app.board PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
endfunction()
