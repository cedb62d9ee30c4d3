// popen and the exit status it reports, on both systems. The tools the tests run through it are
// Linux programs: under Windows they are not found, and the checks that need them skip.
#pragma once

#include <cstdio>

#ifdef _WIN32
#define popen _popen
#define pclose _pclose
#define WIFEXITED(status) true
#define WEXITSTATUS(status) (status)
#else
#include <sys/wait.h>
#endif
