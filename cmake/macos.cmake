# The macOS backends: AppKit and Dispatch for the platform services,
# ApplicationServices and CoreFoundation for accessibility. Nothing here
# looks for a Linux package.
enable_language(OBJCXX)

# Text services on their own, as on Linux, so that a test build's
# accessibility double lower-cases with the same library as the helper.
add_library(ortel_platform_text STATIC accessibility/macos/cf_text.cpp)
target_include_directories(ortel_platform_text PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(ortel_platform_text PUBLIC "-framework CoreFoundation")
ortel_warnings(ortel_platform_text)

add_library(ortel_platform STATIC
  platform/macos/appkit_platform.mm
  platform/macos/sdk_constants.mm
  accessibility/macos/ax_element.cpp
  accessibility/macos/ax_query.mm)
target_include_directories(ortel_platform PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_options(ortel_platform PRIVATE $<$<COMPILE_LANGUAGE:OBJCXX>:-fobjc-arc>)
target_link_libraries(ortel_platform PUBLIC ortel_platform_text
  "-framework AppKit" "-framework ApplicationServices" "-framework CoreFoundation" "-framework Foundation")
ortel_warnings(ortel_platform)

# Signed for the hardened runtime after every link. The entitlements are a
# fixed list that the product ships with; the helper's own code
# uses none of them.
set(ORTEL_CODESIGN_IDENTITY "-" CACHE STRING "codesign identity for ortel-helper (\"-\" signs ad hoc)")
set(ortel_entitlements ${CMAKE_CURRENT_SOURCE_DIR}/platform/macos/ortel-helper.entitlements)
# Notarization wants a secure timestamp from Apple's service, which needs the
# network; an ad hoc signature is never notarized, so it goes without.
set(ortel_codesign_options --force --options runtime)
if(NOT ORTEL_CODESIGN_IDENTITY STREQUAL "-")
  list(APPEND ortel_codesign_options --timestamp)
endif()
find_program(ORTEL_CODESIGN codesign)
if(ORTEL_CODESIGN)
  add_custom_command(TARGET ortel-helper POST_BUILD
    COMMAND ${ORTEL_CODESIGN} ${ortel_codesign_options} --entitlements ${ortel_entitlements}
            --sign ${ORTEL_CODESIGN_IDENTITY} $<TARGET_FILE:ortel-helper>
    VERBATIM)
  # An edited entitlements file relinks, and so re-signs, the helper.
  set_property(TARGET ortel-helper APPEND PROPERTY LINK_DEPENDS ${ortel_entitlements})
else()
  list(JOIN ortel_codesign_options " " ortel_codesign_text)
  message(WARNING "codesign not found: the linker still signs ortel-helper ad hoc, but without the "
                  "hardened runtime or the entitlements. Sign it before use: codesign ${ortel_codesign_text} "
                  "--entitlements ${ortel_entitlements} --sign IDENTITY ortel-helper")
endif()

# Installed into a parent application's bundle, where docs/macos.md says it
# goes: cmake --install BUILD --prefix Parent.app. Copied as signed: with the
# install RPATH used from the start, CMake has nothing to rewrite in the
# installed file, which would break its signature.
set_target_properties(ortel-helper PROPERTIES BUILD_WITH_INSTALL_RPATH ON)
install(TARGETS ortel-helper RUNTIME DESTINATION Contents/Helpers)
