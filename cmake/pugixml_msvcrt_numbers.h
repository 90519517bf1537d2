/* Forced in front of the XML parser's source in the Windows builds. The
   parser converts numbers with strtod/wcstod and snprintf, which the stub
   never calls; declared the MinGW way they would still pull MinGW's own
   printf and strtod (and their tables, ~30 KiB) into the executable, since
   the linker resolves them before link-time optimisation drops the callers.
   Declared here first, they are the system C runtime's. The C++ runtime
   insists on the MinGW way for every later header, so the C headers are
   taken directly, ahead of it. */
#define __USE_MINGW_ANSI_STDIO 0
#define _GLIBCXX_INCLUDE_NEXT_C_HEADERS
#include <stdlib.h>
#include <stdio.h>
#include <wchar.h>
#undef _GLIBCXX_INCLUDE_NEXT_C_HEADERS
