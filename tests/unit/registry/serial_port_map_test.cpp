// The serial-port map as read once per command: which device name a port
// name finds, in the registry's enumeration order.
#include <gtest/gtest.h>

#include <string>

#include "common/exact_text.h"
#include "registry/serial_port_map.h"

namespace {

WideString found(const SerialPortMap& map, const WideString& portName)
{
    const WideChar* deviceName = map.findSerialDeviceName(ExactText(portName).get());
    return deviceName == nullptr ? WideString(u"<none>") : WideString(deviceName);
}

TEST(SerialPortMap, FindsTheFirstValueWithThatPortNameExactly)
{
    SerialPortMap map;
    map.add(u"\\Device\\Serial0", u"COM1");
    map.add(u"\\Device\\USBSER000", u"COM7");
    map.add(u"\\Device\\USBSER001", u"COM7");  // a stale duplicate: the first one wins
    map.add(u"\\Device\\USBSER002", u"COM12");
    map.add(u"", u"COM13");                    // a value with an empty name

    const struct {
        const WideChar* portName;
        const WideChar* deviceName;
    } rows[] = {
        {u"COM7", u"\\Device\\USBSER000"},
        {u"COM1", u"\\Device\\Serial0"},
        {u"COM12", u"\\Device\\USBSER002"},
        {u"COM13", u""},
        {u"com7", u"<none>"},   // case matters
        {u"COM1 ", u"<none>"},  // length matters
        {u"COM", u"<none>"},
        {u"COM70", u"<none>"},
        {u"", u"<none>"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(readable(row.portName));
        EXPECT_EQ(found(map, row.portName), row.deviceName);
    }
}

TEST(SerialPortMap, EmptyMapFindsNothing)
{
    const SerialPortMap map;
    EXPECT_EQ(found(map, u"COM1"), u"<none>");
    EXPECT_EQ(found(map, u""), u"<none>");
}

// A map holds as many values as the registry gives, each name whole.
TEST(SerialPortMap, ManyValuesAndLongNames)
{
    SerialPortMap map;
    const WideString longName = u"\\Device\\USBSER" + WideString(16000, u'9');
    for (int n = 1; n <= 1000; ++n) {
        const std::string digits = std::to_string(n);
        const WideString number(digits.begin(), digits.end());
        map.add(ExactText(n == 500 ? longName : u"\\Device\\USBSER" + number).get(),
                ExactText(u"COM" + number).get());
    }
    EXPECT_EQ(found(map, u"COM1"), u"\\Device\\USBSER1");
    EXPECT_EQ(found(map, u"COM500"), longName);
    EXPECT_EQ(found(map, u"COM1000"), u"\\Device\\USBSER1000");
    EXPECT_EQ(found(map, u"COM1001"), u"<none>");
}

}  // namespace
