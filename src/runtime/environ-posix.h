// The process's environment. POSIX leaves its declaration to the program:
// only some systems' headers declare it, and then only on request.
#pragma once

extern "C" char** environ;
