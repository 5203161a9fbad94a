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
  accessibility/macos/ax_element.cpp)
target_include_directories(ortel_platform PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_options(ortel_platform PRIVATE $<$<COMPILE_LANGUAGE:OBJCXX>:-fobjc-arc>)
target_link_libraries(ortel_platform PUBLIC ortel_platform_text
  "-framework AppKit" "-framework ApplicationServices" "-framework CoreFoundation" "-framework Foundation")
ortel_warnings(ortel_platform)
