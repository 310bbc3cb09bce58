// windows.h for the test helpers, without the macros it defines under names the public API
// uses for members of its own (CopyFile, DeleteFile, GetComputerName, MoveFile).
#pragma once

#include <windows.h>

#undef CopyFile
#undef DeleteFile
#undef GetComputerName
#undef MoveFile
