// Whole execution plans compared with golden files. Times, and the counts
// of the buffer managers' lines, vary from run to run and are masked as
// "#"; a mismatch writes the plan seen to <name>.actual.txt in the build's
// tmp folder, ready to be reviewed and copied over the golden file.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>

namespace brn::testing {

inline std::string MaskedPlan(const std::string& plan) {
  std::string text = std::regex_replace(plan, std::regex("\r\n"), "\n");
  text = std::regex_replace(text, std::regex("in [0-9.]+ secs"), "in # secs");
  std::string result;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    for (const char* prefix : {"Max buffer size:", "Hits:", "Reads:", "Writes:"})
      if (line.rfind(prefix, 0) == 0) line = std::regex_replace(line, std::regex("[0-9.]+"), "#");
    result += line;
    if (end < text.size()) result += '\n';
    start = end + 1;
  }
  return result;
}

// Expects plan, masked, to equal the file <folder>/<name>.txt.
inline void ExpectGoldenPlan(const std::string& folder, const std::string& name,
                             const std::string& plan) {
  const std::filesystem::path golden = std::filesystem::path(folder) / (name + ".txt");
  std::ifstream file(golden, std::ios::binary);
  const std::string expected((std::istreambuf_iterator<char>(file)),
                             std::istreambuf_iterator<char>());
  const std::string actual = MaskedPlan(plan);
  if (actual != expected) {
    std::filesystem::create_directories("tmp");
    std::ofstream("tmp/" + name + ".actual.txt", std::ios::binary) << actual;
  }
  EXPECT_EQ(actual, expected) << name;
}

}  // namespace brn::testing
