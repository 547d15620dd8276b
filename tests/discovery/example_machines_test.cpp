// The example machines: what the scan finds on each, and whether the cards
// it finds are where the pass-through driver's card settings say.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "discovery/card_device_table.h"
#include "host/host.h"
#include "scan_expectations.h"
#include "win32/win32.h"

namespace {

using discoverytest::ExpectRecords;
using discoverytest::ScanInto;

void ScanMachine(const std::string& name, CardDeviceTable* table) {
  discoverytest::LoadFile(std::string(DUNMORE_SOURCE_DIR) + "/machines/" + name);
  std::memset(table, 0, sizeof *table);
  ASSERT_EQ(ScanInto(table), 0);
}

// Every card found with its ports has a card entry of the driver, keyed by
// its I/O base, with the same control port.
void ExpectDriverCardsForPorts(const CardDeviceTable& table) {
  for (int i = 0; i < table.recordCount; ++i) {
    const CardDeviceRecord& record = table.records[i];
    if (record.isPcCard != 1 || record.hasIoPorts != 1) continue;
    char path[96];
    std::snprintf(path, sizeof path, "System\\CurrentControlSet\\Services\\VxD\\MIRT\\Cards\\%04x",
                  record.ioBase);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key), ERROR_SUCCESS) << path;
    DWORD controlPort = 0;
    DWORD size = sizeof controlPort;
    EXPECT_EQ(RegQueryValueExA(key, "ControlPort", nullptr, nullptr,
                               reinterpret_cast<LPBYTE>(&controlPort), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(static_cast<int>(controlPort), record.controlPort) << path;
    RegCloseKey(key);
  }
}

const discoverytest::Expected kFixedDisk = {"C", 0, "", 0, 0, 0};
const discoverytest::Expected kCdRom = {"D", 0, "", 0, 0, 0};

TEST(ExampleMachines, DefaultAndCardWithoutParentFindTheSameCard) {
  for (const char* name : {"default.reg", "card-without-parent.reg"}) {
    SCOPED_TRACE(name);
    CardDeviceTable table;
    ScanMachine(name, &table);
    ExpectRecords(table, {kFixedDisk, kCdRom, {"E", 1, "KESTREL", 1, 0x170, 0x376}});
    ExpectDriverCardsForPorts(table);
  }
}

// Two cards on the same two ports: only their names tell whether the first
// is distinct.
TEST(ExampleMachines, TwoCardsAreDistinctByTheirNames) {
  const struct {
    const char* machine;
    const char* first;
    const char* second;
    int kestrelAt;  // FindByName("KESTREL")
    int distinct;   // IsDistinct(2)
  } machines[] = {{"two-cards.reg", "MERLIN", "OSPREY", -1, 0},
                  {"two-kestrel-cards.reg", "KESTREL", "KESTREL", 2, -1}};
  for (const auto& m : machines) {
    SCOPED_TRACE(m.machine);
    CardDeviceTable table;
    ScanMachine(m.machine, &table);
    ExpectRecords(table, {kFixedDisk,
                          kCdRom,
                          {"E", 1, m.first, 1, 0x170, 0x376},
                          {"F", 1, m.second, 1, 0x180, 0x18E}});
    EXPECT_EQ(table.FindByName("KESTREL"), m.kestrelAt);
    EXPECT_EQ(table.IsDistinct(2), m.distinct);
    ExpectDriverCardsForPorts(table);
  }
}

TEST(ExampleMachines, CardWithFourPortsHasNoIoResources) {
  CardDeviceTable table;
  ScanMachine("no-io-resources.reg", &table);
  ExpectRecords(table, {kFixedDisk, kCdRom, {"E", 1, "KESTREL", 0, 0x170, 0x173}});
}

}  // namespace
