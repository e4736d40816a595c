#include "startup/Settings.h"

namespace korvani::startup {

std::string gstrLanguage;
std::string gstrOSFamily;

}  // namespace korvani::startup
