// The real plug-in loaded next to the real library: its entry points resolve
// by their plain names and its log lines land in the library's log file.
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "BoardTest.h"
#include "BusSPI0.h"
#include "plugin/ISensor.h"
#include "VyxBoard.h"

using SensorPlugin = vyxtest::BoardTest;

TEST_F(SensorPlugin, LogsIntoTheLibrarysLogFile) {
    bool bOk = false, bOn = false;
    CBusSPI0 bus(&bOk, 100, 8, 1);
    ASSERT_TRUE(bOk);
    void* pPlugin = dlopen("/usr/lib/libvyxSensorQ210B.so", RTLD_NOW);
    ASSERT_NE(nullptr, pPlugin) << dlerror();
    auto pfnNew = reinterpret_cast<PFN_NEW_SENSOR>(dlsym(pPlugin, "newSensor"));
    auto pfnDelete = reinterpret_cast<PFN_DELETE_SENSOR>(dlsym(pPlugin, "deleteSensor"));
    ASSERT_TRUE(pfnNew != nullptr && pfnDelete != nullptr);
    CISensor* pSensor = nullptr;
    ASSERT_EQ(0, pfnNew(&pSensor, &bus, &bOk));
    ASSERT_TRUE(bOk);

    // Switched on through the library: the plug-in's lines follow.
    char szFolder[] = "/tmp/vyx-plugin-log-XXXXXX", szPath[128] = {0};
    ASSERT_EQ(0, VYXZEB_LogSet(true, mkdtemp(szFolder)));
    VYXZEB_LogGet(&bOn, szPath);
    {
        const vyxtest::ScopedFault writeFails(vb::Node::Spi0, vb::Op::Write, vb::Fault{});  // EIO
        EXPECT_EQ(VYXZEB_RET_SENSOR_FAILED, pSensor->SetGain(7));
    }
    EXPECT_EQ(0, pSensor->DumpSensorRegister(nullptr));
    std::stringstream text;
    text << std::ifstream(szPath).rdbuf();
    EXPECT_NE(std::string::npos,
              text.str().find(std::string(": vyxerr_(CMD_Q210BWrite write fail(") + strerror(EIO) + "))\n"));
    EXPECT_NE(std::string::npos, text.str().find(": vyxlog_(DumpSensor reg(15)_vlu(500))\n"));

    // Switched off through the library: the plug-in's lines stop as well.
    ASSERT_EQ(0, VYXZEB_LogSet(false, nullptr));
    EXPECT_EQ(0, pSensor->DumpSensorRegister(nullptr));
    std::stringstream after;
    after << std::ifstream(szPath).rdbuf();
    EXPECT_EQ(text.str(), after.str());
    EXPECT_EQ(0, pfnDelete(&pSensor));
    unlink(szPath);
    rmdir(szFolder);
}
