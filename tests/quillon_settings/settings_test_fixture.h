#pragma once

#include <stdlib.h>

#include <string>

#include <gtest/gtest.h>

#include "quillon_settings/bus_recorder.h"
#include "support/temp_dir.h"

namespace quillontest
{

// Every test gets its own CAMROOT, so "/etc/quillon/..." lands in a fresh
// temporary directory, and a recorder of the bus.
class SettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("QUILLON_LOG_STDERR", "1", 1);
        setenv("CAMROOT", root.path().c_str(), 1);
    }

    void writeConfig(const std::string& fileName, const std::string& text)
    {
        root.write("etc/quillon/" + fileName, text);
    }
    std::string readConfig(const std::string& fileName)
    {
        return root.read("etc/quillon/" + fileName);
    }
    bool configExists(const std::string& fileName)
    {
        return root.exists("etc/quillon/" + fileName);
    }

    testsupport::TempDir root{"quillon-settings"};
    ScopedRecorder bus;
};

} // namespace quillontest
