# The macOS backend is added by its own change; until then the build stops here.
message(FATAL_ERROR "The macOS backend is not part of this build yet.")
