// A private temporary directory for tests that need real files and
// stand-in programs; removed with everything in it.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace kestrix::testing {

class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrix-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(path_, ec);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string path(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& root() const { return path_; }

  std::string write(const std::string& name, const std::string& content, mode_t mode = 0644) const {
    const std::string p = path(name);
    std::ofstream(p, std::ios::binary) << content;
    ::chmod(p.c_str(), mode);
    return p;
  }

  // An executable shell script with `body` after the interpreter line.
  std::string script(const std::string& name, const std::string& body) const {
    return write(name, "#!/bin/sh\n" + body + "\n", 0755);
  }

 private:
  std::filesystem::path path_;
};

}  // namespace kestrix::testing
