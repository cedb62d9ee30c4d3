// Archives cut into pieces named ".split0", ".split1", ...
#pragma once

#include <string>

namespace kestrix {

// Appends joined + ".split0", ".split1", ... (while the next exists) into a new file `joined`.
// Returns the number of pieces joined.
int JoinSplitPieces(const std::string& joined);

}  // namespace kestrix
