# Windows test executables, run under Wine by CTest when cross-compiling.
# Each line: add_windows_test(<name> <sources>), then what it links.
