#pragma once

#include <QApplication>
#include <QWidget>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

namespace brn::testing {

// One application for the whole test program, on the offscreen platform so
// that no display is needed and the plain drawing is used.
inline QApplication& TestApplication() {
  static int argc = 1;
  static char name[] = "host_ui_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* application = [] {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return new QApplication(argc, argv);
  }();
  return *application;
}

// Saves what widget shows as <test output folder>/host_ui/<name>.png and
// checks that the file was written.
inline void SaveScreenshot(QWidget& widget, const std::string& name) {
  const char* root = std::getenv("BRN_TEST_TMP");
  std::filesystem::path folder =
      std::filesystem::path(root != nullptr ? root
                                            : std::filesystem::temp_directory_path().string()) /
      "host_ui";
  std::filesystem::create_directories(folder);
  std::string file = (folder / (name + ".png")).string();
  EXPECT_TRUE(widget.grab().save(QString::fromStdString(file), "PNG")) << file;
  EXPECT_GT(std::filesystem::file_size(file), 0u) << file;
}

}  // namespace brn::testing
