#pragma once

#include <string>

#include "quillon/config/settings/general_settings.h"

namespace quillon
{

// Directory of quillon's settings files (resolved under $CAMROOT when set).
inline constexpr const char* kSettingsDirectory = "/etc/quillon/";

// Paths longer than this are never written.
inline constexpr int kMaxSettingsPathLength = 240;

// The whole text of the settings file `fileName`; empty when it cannot be
// read.
std::string readSettingsText(const std::string& fileName);

// Writes `text` to the settings file `fileName` atomically: to "<path>.tmp"
// first (synced to disk), then renamed over the file and the directory synced, so a reader
// sees either the old or the new content, never a torn file. Returns false
// (and logs) when any step fails; the old file is then untouched.
bool saveSettingsText(const std::string& fileName, const std::string& text);

// Serialises `record` for a file (doubles as "%.6g") and writes it with
// saveSettingsText.
bool saveSettings(GeneralSettings& record, const std::string& fileName);
// Serialises `object` (doubles as "%.6g") and writes it with
// saveSettingsText; logs "Could not encode settings" when json-c fails.
bool saveSettingsJson(json_object* object, const std::string& fileName);

// Applies the content of a settings file to `record` (validating and
// publishing what it reads). The leading JSON value of the text counts; text
// after it is ignored with a warning naming `fileName`. Every record present
// in the value is read, even after one failed. Returns 0 when the text loaded
// completely; otherwise the first failure (1005 when no record is present,
// -1 when the text does not start with JSON), in which case the caller
// publishes and writes back the record.
int loadSettingsText(GeneralSettings& record, const std::string& text,
                     const std::string& fileName = {});

// Loads `record` from the settings file: a missing, empty or unparsable file
// publishes the defaults and writes them back (a record that keeps rejected
// files first saves the old text as "<file>.bad"). A file that exists but
// cannot be read (permissions, I/O error) is logged and left alone; the
// defaults are published and used in memory. Otherwise every record present
// in the file is read; when one fails validation (it keeps its defaults) or
// none is present, the whole record is published and the file rewritten.
void loadSettings(GeneralSettings& record, const std::string& fileName);

// The holder of one settings file: loads it on construction and keeps the
// record, which is authoritative afterwards. One holder per file and process
// (see settings_files.h); not locked, used by one thread at a time.
template <typename T> class SettingsFile
{
public:
    explicit SettingsFile(std::string fileName) : fileName_(std::move(fileName))
    {
        loadSettings(settings_, fileName_);
    }
    SettingsFile(const SettingsFile&) = delete;
    SettingsFile& operator=(const SettingsFile&) = delete;

    const std::string& fileName() const { return fileName_; }
    T& settings() { return settings_; }

    // Writes the current state to the file.
    bool save() { return saveSettings(settings_, fileName_); }
    bool saveToFile(const std::string& text) { return saveSettingsText(fileName_, text); }

private:
    std::string fileName_;
    T settings_;
};

} // namespace quillon
