#include "options.h"

#include <glib.h>

namespace camsim
{

void Options::add(const char* name, const char* description, Kind kind, void* target)
{
    entries_.push_back(Entry{name, description, kind, target});
}

void Options::addString(const char* name, const char* description, std::string* target)
{
    add(name, description, Kind::String, target);
}

void Options::addInt(const char* name, const char* description, int* target)
{
    add(name, description, Kind::Int, target);
}

void Options::addDouble(const char* name, const char* description, double* target)
{
    add(name, description, Kind::Double, target);
}

void Options::addFlag(const char* name, const char* description, bool* target)
{
    add(name, description, Kind::Flag, target);
}

bool Options::parse(int& argc, char**& argv, std::string& error)
{
    std::vector<GOptionEntry> table;
    for (auto& e : entries_) {
        GOptionEntry g{};
        g.long_name = e.name.c_str();
        g.description = e.description.c_str();
        switch (e.kind) {
        case Kind::String:
            g.arg = G_OPTION_ARG_STRING;
            g.arg_data = &e.str;
            g.arg_description = "TEXT";
            break;
        case Kind::Int:
            e.i = *static_cast<int*>(e.target);
            g.arg = G_OPTION_ARG_INT;
            g.arg_data = &e.i;
            g.arg_description = "N";
            break;
        case Kind::Double:
            e.d = *static_cast<double*>(e.target);
            g.arg = G_OPTION_ARG_DOUBLE;
            g.arg_data = &e.d;
            g.arg_description = "X";
            break;
        case Kind::Flag:
            e.flag = *static_cast<bool*>(e.target) ? 1 : 0;
            g.arg = G_OPTION_ARG_NONE;
            g.arg_data = &e.flag;
            break;
        }
        table.push_back(g);
    }
    table.push_back(GOptionEntry{});

    GOptionContext* ctx = g_option_context_new("- simulated PTZ camera");
    g_option_context_add_main_entries(ctx, table.data(), nullptr);
    GError* err = nullptr;
    bool ok = g_option_context_parse(ctx, &argc, &argv, &err);
    g_option_context_free(ctx);
    if (!ok) {
        error = err != nullptr ? err->message : "option parsing failed";
        g_clear_error(&err);
    }
    for (auto& e : entries_) {
        switch (e.kind) {
        case Kind::String:
            if (e.str != nullptr) {
                *static_cast<std::string*>(e.target) = e.str;
                g_free(e.str);
                e.str = nullptr;
            }
            break;
        case Kind::Int:
            *static_cast<int*>(e.target) = e.i;
            break;
        case Kind::Double:
            *static_cast<double*>(e.target) = e.d;
            break;
        case Kind::Flag:
            *static_cast<bool*>(e.target) = e.flag != 0;
            break;
        }
    }
    return ok;
}

} // namespace camsim
