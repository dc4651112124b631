#include <gtest/gtest.h>

#include <QByteArray>
#include <QtGlobal>
#include <string>

#include "platform/serial/PortErrors.h"
#include "platform/serial/PortMap.h"
#include "tests/support/RuntimeErrors.h"

namespace quenvar::serial {
namespace {

using automation::error_number::DeviceIoError;
using automation::error_number::DeviceUnavailable;
using automation::error_number::InvalidPortNumber;
using automation::error_number::PermissionDenied;
using automation::error_number::PortAlreadyOpen;
using automation::error_number::PortNotOpen;
using quenvar::testing::errorFrom;

class PortMapTest : public ::testing::Test {
protected:
    void SetUp() override { clearVariables(); }
    void TearDown() override { clearVariables(); }
    static void clearVariables() {
        for (int port = FirstPortNumber; port <= LastPortNumber; ++port) qunsetenv(portVariableName(port).c_str());
    }
};

TEST_F(PortMapTest, KnownPortsDefaultToTheMachinesSerialPorts) {
    struct Case {
        int port;
        const char* device;
    };
    for (const Case& c :
         {Case{1, "/dev/ttyS0"}, Case{2, "/dev/ttyS1"}, Case{4, "/dev/ttyS3"}, Case{16, "/dev/ttyS15"}}) {
        SCOPED_TRACE(c.port);
        EXPECT_EQ(deviceForPort(c.port), c.device);
    }
}

TEST_F(PortMapTest, EnvironmentVariableNamesTheDeviceOfItsPortOnly) {
    qputenv("QUENVAR_COMM3", "/dev/ttyUSB0");
    EXPECT_EQ(deviceForPort(3), "/dev/ttyUSB0");
    EXPECT_EQ(deviceForPort(2), "/dev/ttyS1");
    EXPECT_EQ(deviceForPort(13), "/dev/ttyS12");
}

TEST_F(PortMapTest, EmptyVariableFallsBackToTheDefaultDevice) {
    qputenv("QUENVAR_COMM1", "");
    EXPECT_EQ(deviceForPort(1), "/dev/ttyS0");
}

TEST_F(PortMapTest, UnknownNumbersRaiseInvalidPortNumberNamingTheRange) {
    for (int port : {0, -1, 17, 255, -32768, 32767}) {
        SCOPED_TRACE(port);
        EXPECT_FALSE(isKnownPort(port));
        const auto error = errorFrom([&] { deviceForPort(port); });
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->number(), InvalidPortNumber);
        EXPECT_NE(error->description().find("Invalid port number " + std::to_string(port)), std::string::npos)
            << error->description();
        EXPECT_NE(error->description().find("1 to 16"), std::string::npos) << error->description();
    }
}

TEST(PortErrorsTest, EachPortFaultBecomesItsOwnErrorNamingPortAndDevice) {
    struct Case {
        PortFault fault;
        std::int32_t number;
        const char* mustMention;
    };
    const Case cases[] = {
        {PortFault::DeviceMissing, DeviceUnavailable, "does not exist"},
        {PortFault::DeviceMissing, DeviceUnavailable, "QUENVAR_COMM2"},
        {PortFault::AccessDenied, PermissionDenied, "dialout"},
        {PortFault::InUse, PortAlreadyOpen, "in use by another program (strange failure)"},
        {PortFault::NotASerialPort, DeviceUnavailable, "not a serial port"},
        {PortFault::DeviceLost, DeviceIoError, "disconnected"},
        {PortFault::Other, DeviceIoError, "strange failure"},
        {PortFault::NotOpen, PortNotOpen, "only when the port is open"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        PortFailure failure;
        failure.fault = c.fault;
        failure.port = 2;
        failure.device = "/dev/ttyUSB7";
        failure.systemMessage = "strange failure";
        const automation::RuntimeError error = describePortFailure(failure);
        EXPECT_EQ(error.number(), c.number);
        EXPECT_NE(error.description().find(c.mustMention), std::string::npos) << error.description();
        if (c.fault != PortFault::NotOpen) {
            EXPECT_NE(error.description().find("port 2 (/dev/ttyUSB7)"), std::string::npos) << error.description();
        }
    }
}

}  // namespace
}  // namespace quenvar::serial
