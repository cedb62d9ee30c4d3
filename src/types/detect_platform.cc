#include "types/detect_platform.h"

namespace kestrix {

std::string PlatformName(int32_t code) {
  switch (code) {
    case -2: return "Source";
    case 2: return "MAC_OS_X_universal";
    case 4: return "MAC_OS_X_x86";
    case 5: return "WIN_x86";
    case 7: return "WebPlayer";
    case 9: return "IOS";
    case 10: return "PS3";
    case 13: return "ANDROID";
    case 17: return "LINUX_x86";
    case 19: return "WIN_x86_64";
    case 24: return "LINUX_x86_64";
    case 25: return "LINUX_universal";
    case 27: return "MAC_OS_X_x86_64";
    case 28: return "BlackBerry";
    default: return std::string();
  }
}

}  // namespace kestrix
