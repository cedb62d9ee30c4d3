// The program's failures: one family with kinds (platform/error.h, where the file layer throws
// them too). Parsers throw; the frontend decides how a failure is shown.
#pragma once

#include "platform/error.h"
