#pragma once
// A fresh folder per test, with TMPDIR and XDG_CONFIG_HOME pointed into it and
// put back afterwards, so tests never touch the user's settings or /tmp.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class TTempEnv {
 public:
  TTempEnv() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vemra-test-XXXXXX").string();
    dir_ = ::mkdtemp(pattern.data()) ? pattern : std::string();
    std::filesystem::create_directories(dir_ + "/tmp");
    std::filesystem::create_directories(dir_ + "/config");
    Save("TMPDIR");
    Save("XDG_CONFIG_HOME");
    Save("VEMRA_REGISTRY_FILE");
    Save("VEMRA_REGISTRY_READONLY");
    Save("PATH");
    ::setenv("TMPDIR", (dir_ + "/tmp").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (dir_ + "/config").c_str(), 1);
    ::unsetenv("VEMRA_REGISTRY_FILE");
    ::unsetenv("VEMRA_REGISTRY_READONLY");
  }
  ~TTempEnv() {
    for (auto& [name, value] : saved_) {
      if (value.first) ::setenv(name.c_str(), value.second.c_str(), 1);
      else ::unsetenv(name.c_str());
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  TTempEnv(const TTempEnv&) = delete;
  TTempEnv& operator=(const TTempEnv&) = delete;

  const std::string& Dir() const { return dir_; }
  std::string Path(const std::string& Name) const { return dir_ + "/" + Name; }

  // Writes an executable shell script.
  std::string Script(const std::string& Name, const std::string& Body) const {
    std::string p = Path(Name);
    std::ofstream(p) << "#!/bin/sh\n" << Body << "\n";
    ::chmod(p.c_str(), 0755);
    return p;
  }

  // Puts a folder first on PATH for this test.
  void PrependPath(const std::string& Folder) const {
    const char* old = std::getenv("PATH");
    std::string value = Folder + ":" + (old ? old : "/usr/bin:/bin");
    ::setenv("PATH", value.c_str(), 1);
  }

 private:
  void Save(const std::string& Name) {
    const char* v = std::getenv(Name.c_str());
    saved_.emplace_back(Name, std::make_pair(v != nullptr, v ? std::string(v) : std::string()));
  }
  std::string dir_;
  std::vector<std::pair<std::string, std::pair<bool, std::string>>> saved_;
};

inline std::string ReadWholeFile(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Polls until Done() holds or TimeoutMs passes (for detached children).
inline bool WaitUntil(const std::function<bool()>& Done, int TimeoutMs = 5000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  while (std::chrono::steady_clock::now() < end) {
    if (Done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return Done();
}
