#pragma once

#include <deque>
#include <string>
#include <vector>

namespace camsim
{

// Command-line options of camsim. The core and every module add their
// options before parsing; targets keep their value when the option is absent.
// Long names must be unique across modules (prefix them with the module name).
class Options
{
public:
    void addString(const char* name, const char* description, std::string* target);
    void addInt(const char* name, const char* description, int* target);
    void addDouble(const char* name, const char* description, double* target);
    void addFlag(const char* name, const char* description, bool* target);

    // Parses and removes the options from argv; false with a message on error.
    bool parse(int& argc, char**& argv, std::string& error);

private:
    enum class Kind { String, Int, Double, Flag };
    struct Entry {
        std::string name;
        std::string description;
        Kind kind;
        void* target;
        char* str = nullptr;
        int i = 0;
        double d = 0.0;
        int flag = 0;
    };
    void add(const char* name, const char* description, Kind kind, void* target);
    std::deque<Entry> entries_; // stable addresses for GOption
};

} // namespace camsim
