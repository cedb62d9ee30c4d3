// Archives cut into pieces named ".split0", ".split1", ...
#pragma once

#include <string>

namespace kestrix {

// Appends base + ".split0", ".split1", ... (while the next exists) into the file `joined`, which
// is written anew. Returns the number of pieces joined.
int JoinSplitPieces(const std::string& base, const std::string& joined);

}  // namespace kestrix
