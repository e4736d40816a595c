#pragma once

#include <string>

namespace korvani::startup {

// The two settings of a run, fixed once by StartUp from the command line and
// read by the window when it chooses the package. Defined here, in a header of
// their own, so that the window reads them without depending on start-up, which
// depends on the window.
inline std::string gstrLanguage;  // language code, "en" unless the command line says otherwise
inline std::string gstrOSFamily;  // OS family code, "xp" unless the command line says otherwise

}  // namespace korvani::startup
