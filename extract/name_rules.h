#pragma once

#include <string>
#include <string_view>

#include "extract/file_system.h"

namespace drovan {

// The platform's directory entries "." and "..".
bool IsDots(std::u16string_view name);

// A name matches when its last fileType.size() code units equal fileType with ASCII letters folded.
bool NameEndsWithType(std::u16string_view name, std::u16string_view fileType);

// "clip.swf", 3 -> "clip (3).swf"; a name without a dot gets the number at its end.
std::u16string NumberedName(std::u16string_view name, unsigned number);

// name, or its numbered name when number > 1, in at most 255 of unit: the part before the extension is cut
// on a character boundary, keeping the extension and the number.
std::u16string FittedName(std::u16string_view name, unsigned number, NameLengthUnit unit);

// What name and every numbered name made from it have in common: the name without any " (N)" before its
// extension, ASCII letters folded. Names of different families can never take the same place.
std::u16string NameFamily(std::u16string_view name);

// Appends name to path with one separator, whether or not path already ends with one.
void AppendToPath(std::u16string& path, std::u16string_view name, char16_t separator);

// Joins name to folder with one separator, whether or not folder already ends with one.
std::u16string JoinPath(std::u16string_view folder, std::u16string_view name, char16_t separator);

}  // namespace drovan
