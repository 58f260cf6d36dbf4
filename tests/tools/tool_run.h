// Running a command-line tool from a test through the shell and collecting
// its exit status and output.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

struct ToolRun {
    int status;  // exit status; -1 when the tool did not exit normally
    std::string out;
    std::string err;
};

inline std::string readWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// `command` is a shell command line; its standard output (unless sent to
// `stdoutPath`) and error are kept.
inline ToolRun runTool(const std::string& command, const std::filesystem::path& scratch,
                       const std::filesystem::path& stdoutPath = {}) {
    const auto out = stdoutPath.empty() ? scratch / "tool.out" : stdoutPath;
    const auto err = scratch / "tool.err";
    const int raw =
        std::system((command + " >'" + out.string() + "' 2>'" + err.string() + "'").c_str());
    const int status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return ToolRun{status, stdoutPath.empty() ? readWholeFile(out) : std::string{},
                   readWholeFile(err)};
}

// A folder of the test's own under the temporary directory, removed with it.
class ScratchFolder {
  public:
    explicit ScratchFolder(const std::string& name)
        : path_(std::filesystem::temp_directory_path() /
                (name + "_" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

inline std::string quoted(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}
