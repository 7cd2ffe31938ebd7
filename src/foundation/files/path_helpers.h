#pragma once

#include <string>
#include <string_view>

namespace brn {

// Helpers that build and take apart the engine's file names. Both '\' and
// '/' separate the parts of a path (the file layer turns '\' into '/'); a
// path is absolute when it starts with a separator or holds a drive ("C:\").
// Every helper returns a new string.

bool IsRelativePath(std::string_view path);
// The text before the last separator (the whole text when there is none).
std::string ExtractPathDirectory(std::string_view path);
// The text after the last separator (the whole text when there is none).
std::string ExtractPathFileName(std::string_view path);
// The extension of the file name: the text from its last "." on, "."
// included; empty when the file name has none.
std::string ExtractPathExtension(std::string_view name);
// Name without its extension; when ext is not empty, only when the extension
// equals ext ignoring case.
std::string RemoveFileExtension(std::string_view name, std::string_view ext);
// Name with its extension replaced by newExt; unchanged without an extension.
std::string ReplaceFileExtension(std::string_view name, std::string_view newExt);
// Trimmed name whose extension is replaced by newExt when it equals oldExt
// (ignoring case, oldExt not empty); otherwise newExt appended.
std::string AppendFileExtension(std::string_view name, std::string_view oldExt,
                                std::string_view newExt);
// Trimmed path ending in a separator (the kind the path already uses, "\"
// when it has none); an empty path stays empty.
std::string AddTrailingBackslash(std::string_view path);
// Trimmed path without a final separator.
std::string RemoveTrailingBackslash(std::string_view path);
// The file name of path without its extension (see RemoveFileExtension).
std::string ExtractBaseFileName(std::string_view path, std::string_view ext);

}  // namespace brn
