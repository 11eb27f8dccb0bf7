// Helpers shared by the unit tests: a link whose standard error and output
// are captured, the status a step stops the link with, a folder of the
// test's own, reading back a captured stream, and the host's line ends in
// text-mode files.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "context.h"

namespace zeld {

// Everything written to a temporary stream so far.
inline std::string read_all(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string text;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  return text;
}

// One link's context with its standard error and standard output going to
// temporary streams. err() and out() return what was written since their
// last call, so a test can check the reports of each step apart.
class CapturedLink {
 public:
  CapturedLink() = default;
  CapturedLink(const CapturedLink&) = delete;
  CapturedLink& operator=(const CapturedLink&) = delete;
  ~CapturedLink() {
    std::fclose(err_file_);
    std::fclose(out_file_);
  }

  std::string err() { return fresh(err_file_, err_seen_); }
  std::string out() { return fresh(out_file_, out_seen_); }

 private:
  static std::string fresh(std::FILE* f, std::size_t& seen) {
    std::string all = read_all(f);
    std::string text = all.substr(std::min(seen, all.size()));
    seen = all.size();
    return text;
  }

  std::FILE* err_file_ = std::tmpfile();
  std::FILE* out_file_ = std::tmpfile();
  std::size_t err_seen_ = 0;
  std::size_t out_seen_ = 0;

 public:
  LinkContext ctx{err_file_, out_file_};
};

// The same as a test fixture: TEST_F(SomeTest, ...) with
// `class SomeTest : public LinkTest`, or LinkTest itself.
class LinkTest : public ::testing::Test, public CapturedLink {};

// The status a step stops the link with (LinkAbort), or kNoStop when it
// returns.
inline constexpr int kNoStop = -1000;
template <typename Step>
int stop_status(Step&& step) {
  try {
    step();
  } catch (const LinkAbort& abort) {
    return abort.status;
  }
  return kNoStop;
}

// A new folder of the running test's own in the test temporary directory,
// deleted with everything in it when the test ends.
class TestFolder {
 public:
  explicit TestFolder(const std::string& what)
      : dir_(::testing::TempDir() + "/zeld-" + what + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name()) {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
    std::filesystem::create_directories(dir_);
  }
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;
  ~TestFolder() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  const std::string& dir() const { return dir_; }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  // Writes `bytes` to the file `name` in the folder and returns its path.
  std::string write(const std::string& name, const std::string& bytes) const {
    std::ofstream(path(name), std::ios::binary) << bytes;
    return path(name);
  }

 private:
  std::string dir_;
};

// `text` as a file written through a text-mode stream holds it on this host:
// each line feed becomes CR LF on Windows.
inline std::string host_text(const std::string& text) {
#ifdef _WIN32
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
#else
  return text;
#endif
}

}  // namespace zeld
