// The real plug-in loaded next to the real library: its entry points resolve
// by their plain names, and its log lines land in the library's log file.
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "BusSPI0.h"
#include "ISensor.h"
#include "VYXZebApi.h"
#include "VyxBoard.h"

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

TEST(SensorPlugin, LogsIntoTheLibrarysLogFile)
{
    vb::resetFaults();
    char szTemplate[] = "/tmp/vyx-plugin-log-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(szTemplate));
    const std::string folder = szTemplate;

    bool bBusOk = false;
    CBusSPI0 bus(&bBusOk, 100, 8, 1);
    ASSERT_TRUE(bBusOk);

    void* pPlugin = dlopen("/usr/lib/libvyxSensorQ210B.so", RTLD_NOW);
    ASSERT_NE(nullptr, pPlugin) << dlerror();
    auto pfnNew = reinterpret_cast<PFN_NEW_SENSOR>(dlsym(pPlugin, "newSensor"));
    auto pfnDelete = reinterpret_cast<PFN_DELETE_SENSOR>(dlsym(pPlugin, "deleteSensor"));
    ASSERT_NE(nullptr, pfnNew);
    ASSERT_NE(nullptr, pfnDelete);

    CISensor* pSensor = nullptr;
    bool bOk = false;
    ASSERT_EQ(0, pfnNew(&pSensor, &bus, &bOk));
    ASSERT_TRUE(bOk);
    ASSERT_NE(nullptr, pSensor);
    int nType = 0;
    EXPECT_EQ(0, pSensor->GetType(&nType));
    EXPECT_EQ(VYXZEB_SENSOR_Q210B, nType);

    // Switched on through the library; the plug-in must follow.
    ASSERT_EQ(0, VYXZEB_LogSet(true, folder.c_str()));
    bool bOn = false;
    char szPath[128] = {0};
    VYXZEB_LogGet(&bOn, szPath);
    ASSERT_TRUE(bOn);

    vb::Fault fault;
    fault.error = EIO;
    vb::setFault(vb::Node::Spi0, vb::Op::Write, fault);
    EXPECT_EQ(VYXZEB_RET_SENSOR_FAILED, pSensor->SetGain(7));
    vb::resetFaults();
    EXPECT_EQ(0, pSensor->DumpSensorRegister(nullptr));

    const std::string text = ReadFile(szPath);
    EXPECT_NE(std::string::npos,
              text.find(std::string(": vyxerr_(CMD_Q210BWrite write fail(") + strerror(EIO) + "))\n"))
        << text;
    EXPECT_NE(std::string::npos, text.find(": vyxlog_(DumpSensor reg(15)_vlu(500))\n")) << text;

    // Switched off through the library: the plug-in's lines stop as well.
    ASSERT_EQ(0, VYXZEB_LogSet(false, nullptr));
    EXPECT_EQ(0, pSensor->DumpSensorRegister(nullptr));
    EXPECT_EQ(text, ReadFile(szPath));

    EXPECT_EQ(0, pfnDelete(&pSensor));
    EXPECT_EQ(nullptr, pSensor);

    unlink(szPath);
    rmdir(folder.c_str());
}

}  // namespace
