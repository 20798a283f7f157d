// Windows: what the framework's Windows code shares of SysUtilsWindows.cpp.
#pragma once

#include <string>

// The full path of a loaded module's file (nullptr: the executable's), in
// UTF-8, whatever the machine's ANSI code page; empty when the system cannot
// tell.
std::string ModulePath(void* module);
