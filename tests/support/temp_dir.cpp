#include "support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testsupport {

TempDir::TempDir(const std::string& tag)
{
    const char* base = std::getenv("TMPDIR");
    std::string tmpl = std::string(base && *base ? base : "/tmp") + "/" + tag + "-XXXXXX";
    if (!mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp failed for " + tmpl);
    path_ = tmpl;
}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& relative) const
{
    fs::path p = fs::path(path_) / relative;
    fs::create_directories(p.parent_path());
    return p.string();
}

void TempDir::write(const std::string& relative, const std::string& content) const
{
    writeFile(file(relative), content);
}

std::string TempDir::read(const std::string& relative) const
{
    return readFile(path_ + "/" + relative);
}

bool TempDir::exists(const std::string& relative) const
{
    return fs::exists(fs::path(path_) / relative);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot write " + path);
    out << content;
}

} // namespace testsupport
