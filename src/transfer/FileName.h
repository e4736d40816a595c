#pragma once

#include <string>

#include "platform/Clock.h"

namespace korvani::transfer {

// The name a fetched URL is saved under: everything after the URL's last "/"
// (a query included; empty when the URL ends with "/"), or
// "Download" + hhmmssmmddyy of `now` + ".tmp" when the URL holds no "/".
std::string FileNameForUrl(const std::string& url, const platform::LocalDateTime& now);

// False for names that would not name a new file inside the destination folder:
// the empty name, "." (the folder itself) and ".." (its parent).
bool NamesFileInFolder(const std::string& fileName);

}  // namespace korvani::transfer
