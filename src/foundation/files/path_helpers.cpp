#include "foundation/files/path_helpers.h"

#include "foundation/text/collation.h"
#include "foundation/text/string_helpers.h"

namespace brn {

namespace {

bool isSeparator(char c) {
  return c == '\\' || c == '/';
}

size_t lastSeparator(std::string_view path) {
  return path.find_last_of("\\/");
}

// Position of the "." that starts the file name's extension, npos when the
// file name has none. A "." inside a directory name is no extension.
size_t extensionStart(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return dot;
  size_t separator = lastSeparator(name);
  if (separator != std::string_view::npos && separator > dot) return std::string_view::npos;
  return dot;
}

}  // namespace

bool IsRelativePath(std::string_view path) {
  if (!path.empty() && isSeparator(path[0])) return false;
  return path.find(":\\") == std::string_view::npos && path.find(":/") == std::string_view::npos;
}

std::string ExtractPathDirectory(std::string_view path) {
  size_t separator = lastSeparator(path);
  return std::string(separator == std::string_view::npos ? path : path.substr(0, separator));
}

std::string ExtractPathFileName(std::string_view path) {
  size_t separator = lastSeparator(path);
  return std::string(separator == std::string_view::npos ? path : path.substr(separator + 1));
}

std::string ExtractPathExtension(std::string_view name) {
  size_t dot = extensionStart(name);
  return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot));
}

std::string RemoveFileExtension(std::string_view name, std::string_view ext) {
  size_t dot = extensionStart(name);
  if (dot == std::string_view::npos) return std::string(name);
  if (!ext.empty() && !TextEqualsIgnoreCase(name.substr(dot), ext)) return std::string(name);
  return std::string(name.substr(0, dot));
}

std::string ReplaceFileExtension(std::string_view name, std::string_view newExt) {
  size_t dot = extensionStart(name);
  if (dot == std::string_view::npos) return std::string(name);
  return std::string(name.substr(0, dot)) + std::string(newExt);
}

std::string AppendFileExtension(std::string_view name, std::string_view oldExt,
                                std::string_view newExt) {
  std::string_view base = TrimBlanksView(name);
  size_t dot = extensionStart(base);
  if (!oldExt.empty() && dot != std::string_view::npos &&
      TextEqualsIgnoreCase(base.substr(dot), oldExt)) {
    base = base.substr(0, dot);
  }
  return std::string(base) + std::string(newExt);
}

std::string AddTrailingBackslash(std::string_view path) {
  std::string result(TrimBlanksView(path));
  if (result.empty() || isSeparator(result.back())) return result;
  size_t separator = lastSeparator(result);
  result += separator == std::string::npos ? '\\' : result[separator];
  return result;
}

std::string RemoveTrailingBackslash(std::string_view path) {
  std::string_view result = TrimBlanksView(path);
  if (!result.empty() && isSeparator(result.back())) result.remove_suffix(1);
  return std::string(result);
}

std::string ExtractBaseFileName(std::string_view path, std::string_view ext) {
  return RemoveFileExtension(ExtractPathFileName(path), ext);
}

}  // namespace brn
