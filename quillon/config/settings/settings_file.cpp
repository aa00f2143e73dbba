#include "quillon/config/settings/settings_file.h"

#include <errno.h>
#include <fcntl.h>
#include <glib.h>
#include <libgen.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <vector>

#include "quillon/config/settings/json_values.h"
#include "quillon/core/log.h"
#include "quillon/core/paths.h"

namespace quillon
{

namespace
{

std::string settingsPath(const std::string& fileName)
{
    return camPath(std::string(kSettingsDirectory) + fileName);
}

// What reading a settings file found.
enum class ReadResult { Read, Missing, Unreadable };

ReadResult readSettingsText(const std::string& fileName, std::string& text)
{
    std::string path = settingsPath(fileName);
    gchar* contents = nullptr;
    gsize length = 0;
    GError* error = nullptr;
    if (!g_file_get_contents(path.c_str(), &contents, &length, &error)) {
        bool missing = g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT);
        if (!missing)
            quillonLog(LOG_WARNING, "Could not read settings file %s: %s\n", path.c_str(),
                       error->message);
        g_clear_error(&error);
        return missing ? ReadResult::Missing : ReadResult::Unreadable;
    }
    text.assign(contents, length);
    g_free(contents);
    return ReadResult::Read;
}

std::string directoryOf(const std::string& path)
{
    std::vector<char> copy(path.begin(), path.end());
    copy.push_back('\0');
    return dirname(copy.data());
}

bool syncFile(const std::string& path)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool synced = fsync(fd) == 0;
    int saved = errno;
    close(fd);
    errno = saved;
    return synced;
}

void publishAndSave(GeneralSettings& record, const std::string& fileName)
{
    record.publish();
    saveSettings(record, fileName);
}

} // namespace

std::string readSettingsText(const std::string& fileName)
{
    std::string text;
    readSettingsText(fileName, text);
    return text;
}

bool saveSettingsText(const std::string& fileName, const std::string& text)
{
    std::string path = settingsPath(fileName);
    if (path.size() > static_cast<size_t>(kMaxSettingsPathLength)) {
        quillonLog(LOG_ERR, "saveToFile does not support file path longer than %d characters: %s\n",
                   kMaxSettingsPathLength, path.c_str());
        return false;
    }
    std::string directory = directoryOf(path);
    // The directory exists on a camera; under a fresh $CAMROOT it may not.
    g_mkdir_with_parents(directory.c_str(), 0755);

    std::string tmp = path + ".tmp";
    GError* error = nullptr;
    if (!g_file_set_contents(tmp.c_str(), text.data(), static_cast<gssize>(text.size()), &error)) {
        quillonLog(LOG_WARNING, "Could not write file %s : %s\n", tmp.c_str(),
                   error != nullptr ? error->message : "");
        g_clear_error(&error);
        return false;
    }
    // g_file_set_contents syncs only when it replaces an existing file, and
    // the temporary never exists here: sync it before it replaces the old
    // file, or a power cut could leave an empty settings file behind.
    if (!syncFile(tmp)) {
        quillonLog(LOG_WARNING, "Could not write file %s : %s\n", tmp.c_str(), strerror(errno));
        unlink(tmp.c_str());
        return false;
    }
    int result = rename(tmp.c_str(), path.c_str());
    if (result != 0) {
        quillonLog(LOG_WARNING, "Rename file %s to %s error %d\n", tmp.c_str(), path.c_str(),
                   result);
        unlink(tmp.c_str());
        return false;
    }
    int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        quillonLog(LOG_WARNING, "Could not sync the directory %s\n", directory.c_str());
        return false;
    }
    // Until the directory is synced the rename may not survive a power cut.
    bool synced = fsync(fd) == 0;
    close(fd);
    if (!synced)
        quillonLog(LOG_WARNING, "Could not sync the directory %s\n", directory.c_str());
    return synced;
}

bool saveSettings(GeneralSettings& record, const std::string& fileName)
{
    json::JsonPtr object(json_object_new_object());
    // A record that cannot encode itself must not replace a good file.
    if (record.toJson(object.get(), kToFile) != 0) {
        quillonLog(LOG_ERR, "Could not encode settings: %s\n", fileName.c_str());
        return false;
    }
    return saveSettingsJson(object.get(), fileName);
}

bool saveSettingsJson(json_object* object, const std::string& fileName)
{
    json_c_set_serialization_double_format("%.6g", JSON_C_OPTION_THREAD);
    const char* text = json_object_to_json_string(object);
    std::string encoded = text != nullptr ? text : "";
    // Drop the per-thread format again: json-c keeps it in a heap copy that
    // would leak when this thread ends.
    json_c_set_serialization_double_format(nullptr, JSON_C_OPTION_THREAD);
    if (text == nullptr) {
        quillonLog(LOG_ERR, "Could not encode settings: %s\n", fileName.c_str());
        return false;
    }
    return saveSettingsText(fileName, encoded);
}

int loadSettingsText(GeneralSettings& record, const std::string& text, const std::string& fileName)
{
    // Files are read as the camera always has: the leading JSON value counts,
    // text after it (a stray character from a hand edit) is ignored, so the
    // file is not replaced by defaults for it.
    bool trailing = false;
    json::JsonPtr root = json::parseLeading(text, &trailing);
    if (root == nullptr)
        return -1;
    if (trailing)
        quillonLog(LOG_WARNING, "Ignoring text after the settings in %s\n",
                   fileName.empty() ? "a settings file" : fileName.c_str());
    if (record.children().empty())
        return record.fromJson(root.get(), kFromFile, nullptr);

    // A bad value in one record must not throw away the others.
    int code = 0;
    bool anyPresent = false;
    for (const auto& [name, child] : record.children()) {
        if (!json::hasKey(root.get(), name.c_str()))
            continue;
        anyPresent = true;
        int childCode = child->fromJson(root.get(), kFromFile, nullptr);
        if (code == 0)
            code = childCode;
    }
    return anyPresent ? code : kSettingsNothingKnown;
}

void loadSettings(GeneralSettings& record, const std::string& fileName)
{
    std::string text;
    switch (readSettingsText(fileName, text)) {
    case ReadResult::Unreadable:
        // The file is there but cannot be read now (permissions, I/O error):
        // run on the defaults and leave the file alone for a later start.
        record.publish();
        return;
    case ReadResult::Missing:
        publishAndSave(record, fileName);
        return;
    case ReadResult::Read:
        break;
    }
    if (text.empty()) {
        publishAndSave(record, fileName);
        return;
    }
    int code = loadSettingsText(record, text, fileName);
    if (code == -1)
        quillonLog(LOG_ERR, "Could not parse settings: %s\n", text.c_str());
    if (code != 0) {
        if (record.keepsRejectedFile() && saveSettingsText(fileName + ".bad", text))
            quillonLog(LOG_WARNING, "Kept the rejected content of %s as %s.bad\n", fileName.c_str(),
                       fileName.c_str());
        publishAndSave(record, fileName);
    }
}

} // namespace quillon
