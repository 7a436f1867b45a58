// The sensor plug-in carries its own copy of the log library, yet its lines
// must land in the log file the application switched on through libvyxzeb:
// the plug-in's VYXLOG_ calls and hVYXLog bind to the library's copies when
// VYXZEB_Init loads it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include <dlfcn.h>

#include "BoardTest.h"
#include "BusSPI0.h"
#include "plugin/ISensor.h"
#include "VYXZebApi.h"

namespace {

std::string ReadFile(const char* path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

using PluginLog = vyxtest::BoardTest;

TEST_F(PluginLog, PluginLinesLandInTheLibrarysLogFile) {
    char folder[] = "/tmp/vyx_plugin_log_XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    ASSERT_EQ(VYXZEB_LogSet(true, folder), 0);

    ASSERT_EQ(VYXZEB_Init(), 0);   // loads the plug-in
    // Reach the loaded plug-in directly and make it trace: its register dump
    // logs one lower-case line per register.
    void* plugin = dlopen("/usr/lib/libvyxSensorQ210B.so", RTLD_NOW);
    ASSERT_NE(plugin, nullptr) << dlerror();
    auto newSensor = reinterpret_cast<PFN_NEW_SENSOR>(dlsym(plugin, "newSensor"));
    ASSERT_NE(newSensor, nullptr);
    bool busOk = false;
    CBusSPI0 bus(&busOk, 100, 8, 1);
    ASSERT_TRUE(busOk);
    CISensor* sensor = nullptr;
    bool sensorOk = false;
    newSensor(&sensor, &bus, &sensorOk);
    ASSERT_TRUE(sensorOk);
    ASSERT_NE(sensor, nullptr);
    EXPECT_EQ(sensor->DumpSensorRegister(nullptr), 0);
    delete sensor;
    dlclose(plugin);
    EXPECT_EQ(VYXZEB_UnInit(), 0);

    bool on = false;
    char path[128] = {};
    ASSERT_EQ(VYXZEB_LogGet(&on, path), 0);
    ASSERT_TRUE(on);
    const std::string text = ReadFile(path);
    EXPECT_NE(text.find("VYXLOG_("), std::string::npos) << "library lines missing:\n" << text;
    EXPECT_NE(text.find("vyxlog_(DumpSensor reg(0)_vlu("), std::string::npos) << "plug-in lines missing:\n" << text;
    EXPECT_EQ(VYXZEB_LogSet(false, nullptr), 0);

    unlink(path);
    rmdir(folder);
}

}  // namespace
