// Sector transfers on both back ends against small simulated computers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "bench/runstate.h"
#include "drive/rerode.h"
#include "fixture.h"

namespace {

// One NT drive: 8,388,610 sectors (a little over 4 GiB), sparse in memory.
const char* kNtDrive = R"({ "drives": [ { "sectors": 8388610,
    "bad": [[1000, 2]], "short": [[2000, 1]] } ] })";

void SelectFirstDrive() {
  ASSERT_TRUE(DiscoverDrives(true, "0A"));
  SelectDrive(1);
  AttachBuffer(Bench.TransferBuffer, kTransferBufferBytes);
}

}  // namespace

TEST(RawTransfer, CarriesTheHighPartOfTheBytePosition) {
  SimMachine* sim = UseMachine(kNtDrive);
  SelectFirstDrive();
  // Sector 8,388,608 of 512 bytes is byte 4 GiB: high part 1, low part 0.
  std::memset(Bench.TransferBuffer, 0xA5, 1024);
  CallRecorder calls;
  ASSERT_TRUE(WriteSectors(8388608, 2));
  EXPECT_EQ(calls.calls(), (std::vector<std::string>{"SetFilePointer", "WriteFile"}));
  std::memset(Bench.TransferBuffer, 0, 1024);
  ASSERT_TRUE(ReadSectors(8388608, 2, 0));
  EXPECT_EQ(Bench.TransferBuffer[0], 0xA5);
  EXPECT_EQ(Bench.TransferBuffer[1023], 0xA5);
  // Nothing landed at byte 0, where a lost high part would have put it.
  ASSERT_TRUE(ReadSectors(0, 2, 0));
  EXPECT_EQ(Bench.TransferBuffer[0], 0);
  EXPECT_EQ(sim->DriveMedium("\\\\.\\PHYSICALDRIVE0")->head(), 2);
}

TEST(RawTransfer, AllOrNothing) {
  UseMachine(kNtDrive);
  SelectFirstDrive();
  struct Case {
    std::int32_t start, count;
    bool ok;
    const char* why;
  } cases[] = {
      {0, 128, true, "a whole buffer"},
      {8388609, 1, true, "the last sector"},
      {8388610, 1, false, "the first sector past the end"},
      {8388600, 64, false, "a run past the end"},
      {990, 20, false, "a bad sector inside the run"},
      {1999, 4, false, "a short transfer"},
      {0, 129, false, "more than the attached buffer holds"},
      {-1, 1, false, "a negative sector"},
  };
  for (const Case& c : cases) EXPECT_EQ(ReadSectors(c.start, c.count, 0), c.ok) << c.why;
  EXPECT_FALSE(WriteSectors(8388610, 1));
}

TEST(RawTransfer, LimitsAndFlagsAskNothingOfTheSystem) {
  UseMachine(kNtDrive);
  SelectFirstDrive();
  CallRecorder calls;
  EXPECT_EQ(QueryMaxTransfer(), 65536);
  EXPECT_EQ(QueryDeviceFlags(), 0u);
  EndTransfers();
  EXPECT_TRUE(calls.calls().empty());
}

TEST(RawTransfer, ModuleEndClosesEachHandleOnce) {
  SimMachine* sim = UseMachine(R"({ "drives": [ { "sectors": 100 }, { "sectors": 100 } ],
      "floppies": { "A": { "sectors": 2880 } }, "cdroms": { "E": { "sectors": 1000, "sectorSize": 2048 } } })");
  ASSERT_TRUE(DiscoverDrives(true, "0A"));
  EXPECT_EQ(Drives.DriveCount, 3);
  // The CD-ROM drive was refused and closed during discovery.
  EXPECT_EQ(sim->Closes("\\\\.\\E:"), 1);
  RerodeEnd();
  RerodeEnd();
  for (const char* device : {"\\\\.\\PHYSICALDRIVE0", "\\\\.\\PHYSICALDRIVE1", "\\\\.\\A:", "\\\\.\\E:"}) {
    EXPECT_EQ(sim->Opens(device), 1) << device;
    EXPECT_EQ(sim->Closes(device), 1) << device;
  }
}

namespace {

std::string Win95Machine(const std::string& unitExtras) {
  return R"({ "platform": "win95", "portDriver": { "units": [
      { "type": 0, "capacity": 4000, "name": "UNIT ZERO", "devNode": 4660, "maxTransfer": 49152,
        "drive": { "sectors": 4000, "bad": [[3000, 1]] } },
      { "type": 0, "capacity": 4000, "name": "UNIT ONE", "devNode": 4661)" +
         unitExtras + R"(, "drive": { "sectors": 4000 } } ] },
    "registry": {
      "HKEY_DYN_DATA\\Config Manager\\Enum\\00001234": { "HardWareKey": "ESDI\\DISK0" },
      "HKEY_DYN_DATA\\Config Manager\\Enum\\00001235": { "HardWareKey": "ESDI\\DISK1" },
      "HKEY_LOCAL_MACHINE\\Enum\\ESDI\\DISK0": { },
      "HKEY_LOCAL_MACHINE\\Enum\\ESDI\\DISK1": { } } })";
}

}  // namespace

TEST(PortTransfer, FillsTheRequestBlockForEachRequest) {
  SimMachine* sim = UseMachine(Win95Machine(""));
  ASSERT_TRUE(DiscoverDrives(true, "0A"));
  ASSERT_EQ(Drives.DriveCount, 2);
  SelectDrive(2);
  AttachBuffer(Bench.TransferBuffer, kTransferBufferBytes);
  const SimPortRequest* attach = sim->LastRequest(DrvAttachBuffer);
  ASSERT_NE(attach, nullptr);
  EXPECT_EQ(attach->count, 65536u);
  EXPECT_EQ(attach->sectorSize, 0u);
  EXPECT_EQ(attach->start, 0u);
  EXPECT_EQ(attach->status, 255);
  EXPECT_EQ(attach->device, 0u);  // not set: nothing was sent before
  EXPECT_EQ(UlongToPtr(attach->buffer), Bench.TransferBuffer);

  CallRecorder calls;
  ASSERT_TRUE(ReadSectors(10, 4, 0));
  EXPECT_EQ(calls.calls(), (std::vector<std::string>{"DeviceIoControl", "WaitForSingleObject"}));
  const SimPortRequest* read = sim->LastRequest(DrvRead);
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->device, 1u);
  EXPECT_EQ(read->sectorSize, 512u);
  EXPECT_EQ(read->start, 10u);
  EXPECT_EQ(read->count, 4u);
  EXPECT_EQ(read->status, 255);  // as sent
  EXPECT_EQ(read->event, Drives.RingZeroEvent);
  EXPECT_NE(Drives.RingZeroEvent, 0u);
  EXPECT_EQ(Drives.Request.Status, 0);  // written back by the driver
  ASSERT_TRUE(WriteSectors(20, 2));
  EXPECT_EQ(sim->LastRequest(DrvWrite)->start, 20u);
  EXPECT_EQ(sim->LastRequest(DrvWrite)->flags, 0u);

  // The limits are asked for the row, not the unit.
  SelectDrive(1);
  EXPECT_EQ(QueryMaxTransfer(), 49152);
  EXPECT_FALSE(ReadSectors(2999, 2, 0));  // a bad sector: failure status
  EXPECT_GT(Drives.Request.Status, 2);
}

TEST(PortTransfer, StatusAboveTwoFails) {
  UseMachine(Win95Machine(R"(, "status": 3)"));
  ASSERT_TRUE(DiscoverDrives(true, "0A"));
  SelectDrive(2);
  AttachBuffer(Bench.TransferBuffer, kTransferBufferBytes);
  EXPECT_FALSE(ReadSectors(0, 1, 0));
  UseMachine(Win95Machine(R"(, "status": 2)"));
  ASSERT_TRUE(DiscoverDrives(true, "0A"));
  SelectDrive(2);
  AttachBuffer(Bench.TransferBuffer, kTransferBufferBytes);
  EXPECT_TRUE(ReadSectors(0, 1, 0));
}

TEST(PortTransfer, ACompletionThatNeverComesFailsAfterFiveSeconds) {
  SimMachine* sim = UseMachine(Win95Machine(R"(, "completion": "never")"));
  ASSERT_TRUE(DiscoverDrives(true, "0A"));
  SelectDrive(2);
  AttachBuffer(Bench.TransferBuffer, kTransferBufferBytes);
  std::int64_t before = sim->Counter();
  EXPECT_FALSE(ReadSectors(0, 1, 0));
  std::int64_t waited = sim->Counter() - before;
  // 5,000 ms of the 1 MHz counter, plus the transfer's own cost at most.
  EXPECT_GE(waited, 5000000);
  EXPECT_LT(waited, 5000000 + 1000);
}

TEST(PortTransfer, ALateCompletionIsNotTakenForTheNextOne) {
  SimMachine* sim = UseMachine(Win95Machine(R"(, "completion": "late")"));
  ASSERT_TRUE(DiscoverDrives(true, "0A"));
  SelectDrive(2);
  AttachBuffer(Bench.TransferBuffer, kTransferBufferBytes);
  EXPECT_FALSE(ReadSectors(0, 1, 0));
  // The late signal of the first request is there now; the second request
  // must still wait for its own completion, which again comes too late.
  std::int64_t before = sim->Counter();
  EXPECT_FALSE(ReadSectors(1, 1, 0));
  EXPECT_GE(sim->Counter() - before, 5000000);
}
