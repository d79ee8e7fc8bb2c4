#pragma once

#include <functional>
#include <string>

namespace drovan {

// Opens one of the program's own web addresses in the user's browser. Tests put their own function in its
// place so that no browser starts.
std::function<void(const std::wstring& address)>& WebPageOpener();

}  // namespace drovan
