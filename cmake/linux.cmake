# The Linux backends: GLib's main loop for the platform services, X11 or the
# kernel's event devices (on Wayland) for the key monitor and trust, AT-SPI
# for the focus queries.
find_package(PkgConfig REQUIRED)
pkg_check_modules(GLIB REQUIRED IMPORTED_TARGET glib-2.0)
pkg_check_modules(X11 REQUIRED IMPORTED_TARGET x11 xi)
pkg_check_modules(ATSPI REQUIRED IMPORTED_TARGET atspi-2 gobject-2.0 dbus-1)

# Text services on their own, so that the tests' accessibility double
# lower-cases with the same library as the helper.
add_library(ortel_platform_text STATIC accessibility/linux/glib_text.cpp)
target_include_directories(ortel_platform_text PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(ortel_platform_text PUBLIC PkgConfig::GLIB)
ortel_warnings(ortel_platform_text)

# The key state both key monitors feed, and the event devices' records apart
# from their ioctls, so that their tests can answer those from a table
# instead (platform/linux/evdev_device.h).
add_library(ortel_key_state STATIC platform/linux/key_state.cpp)
add_library(ortel_evdev_keys STATIC platform/linux/evdev_keys.cpp)
add_library(ortel_evdev_device STATIC platform/linux/evdev_device.cpp)
foreach(target ortel_key_state ortel_evdev_keys ortel_evdev_device)
  target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
  ortel_warnings(${target})
endforeach()
target_link_libraries(ortel_evdev_keys PUBLIC ortel_key_state)

add_library(ortel_platform STATIC
  platform/linux/glib_platform.cpp
  platform/linux/key_backend.cpp
  platform/linux/x11_monitor.cpp
  platform/linux/x11_opener.cpp
  platform/linux/evdev_monitor.cpp
  accessibility/linux/ax_query.cpp
  accessibility/linux/atspi_client.cpp)
target_include_directories(ortel_platform PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(ortel_platform PUBLIC ortel_platform_text ortel_key_state ortel_evdev_keys ortel_evdev_device
                                             PkgConfig::GLIB PkgConfig::X11)
ortel_warnings(ortel_platform)

# The helper's accessibility process, which the helper starts from beside
# its own executable at the first focus query: see
# accessibility/linux/atspi_client.cpp for why AT-SPI runs there.
add_executable(ortel_atspi accessibility/linux/atspi_main.cpp accessibility/linux/atspi_ax.cpp)
set_target_properties(ortel_atspi PROPERTIES OUTPUT_NAME ortel-atspi)
target_include_directories(ortel_atspi PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(ortel_atspi PRIVATE PkgConfig::ATSPI PkgConfig::GLIB)
ortel_warnings(ortel_atspi)
add_dependencies(ortel-helper ortel_atspi)

# The C++ runtime linked in: one shared library fewer to map and relocate
# at every start. Sanitized builds keep the shared one their runtimes expect.
if(NOT ORTEL_SANITIZE)
  target_link_options(ortel-helper PRIVATE -static-libstdc++ -static-libgcc)
  target_link_options(ortel_atspi PRIVATE -static-libstdc++ -static-libgcc)
endif()

# Installed side by side, since the helper starts its accessibility process
# from its own folder; in libexec, because only a parent application runs
# them. The Debian package is made from the same rules.
install(TARGETS ortel-helper ortel_atspi RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/ortel-helper)
include(${CMAKE_CURRENT_LIST_DIR}/debian.cmake)
