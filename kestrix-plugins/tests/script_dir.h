// A temporary directory of small /bin/sh scripts that stand in for helpers.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace kestrix::plugins::testing {

class ScriptDir {
 public:
  ScriptDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kestrix-helper-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) != nullptr) path_ = tmpl;
  }
  ~ScriptDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  ScriptDir(const ScriptDir&) = delete;
  ScriptDir& operator=(const ScriptDir&) = delete;

  // Writes an executable script with `body` after the #! line.
  std::string script(const std::string& name, const std::string& body) const {
    const std::string file = path_ + "/" + name;
    std::ofstream(file) << "#!/bin/sh\n" << body << "\n";
    ::chmod(file.c_str(), 0755);
    return file;
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

}  // namespace kestrix::plugins::testing
