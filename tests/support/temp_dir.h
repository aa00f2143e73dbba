#pragma once

#include <string>

namespace testsupport {

// A fresh directory under $TMPDIR (or /tmp), removed with its contents on
// destruction. Tests never write outside one of these.
class TempDir {
public:
    explicit TempDir(const std::string& tag = "ptz");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + relative, creating parent directories.
    std::string file(const std::string& relative) const;
    void write(const std::string& relative, const std::string& content) const;
    std::string read(const std::string& relative) const;
    bool exists(const std::string& relative) const;

private:
    std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);

} // namespace testsupport
