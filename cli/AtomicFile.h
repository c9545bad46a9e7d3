// Whole files in and out.  A file is replaced through a temporary file in its
// own folder and a rename, so a reader (or a power cut) sees the old file or
// the new one, never half of either.
#pragma once

#include <string>
#include <string_view>

namespace cli {

// Empty on success, else a Czech message that names the file.  A new file
// gets `mode`; an existing one keeps its own.
std::string ReplaceFile(const std::string& path, std::string_view text, unsigned mode = 0644);
// "-" is standard input.
std::string ReadWholeFile(const std::string& path, std::string& text);
// Creates the folder and its missing parents, private to the user.
std::string MakeFolders(const std::string& folder);

}  // namespace cli
