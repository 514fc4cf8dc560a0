// The port driver of a Windows 95/98 machine, driven as the program drives
// it: queries by unit and by row, announced buffers, request blocks, Status
// and the three ways a request completes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sim_test_util.h"

namespace {

HANDLE OpenPortDriver() { return CreateFileA("\\\\.\\RERODE", 0, 0, nullptr, 0, FILE_FLAG_DELETE_ON_CLOSE, 0); }

TEST(PortDriverOpen, OpensOnlyWhereTheMachineHasADriver) {
  struct Case {
    const char* json;
    bool opens;
  };
  const Case cases[] = {
      {R"({"platform":"win95","portDriver":{}})", true},
      {R"({"platform":"win95","portDriver":{"open":false}})", false},
      {R"({"platform":"win95"})", false},
      {R"({"portDriver":{}})", false},  // an NT machine has no such device
  };
  for (const Case& c : cases) {
    ASSERT_NE(UseMachine(c.json), nullptr);
    EXPECT_EQ(OpenPortDriver() != INVALID_HANDLE_VALUE, c.opens) << c.json;
  }
}

TEST(PortDriverOpen, Windows95HasNoRawDisksAndMayLackOpenVxDHandle) {
  SimMachine* sim = UseMachine(R"({"platform":"win95","drives":[{"sectors":10}],"portDriver":{}})");
  ASSERT_NE(sim, nullptr);
  OSVERSIONINFOA v{};
  v.dwOSVersionInfoSize = sizeof(v);
  ASSERT_TRUE(GetVersionExA(&v));
  EXPECT_EQ(v.dwPlatformId, VER_PLATFORM_WIN32_WINDOWS);
  EXPECT_EQ(OpenDevice("\\\\.\\PHYSICALDRIVE0"), INVALID_HANDLE_VALUE);
  EXPECT_NE(GetProcAddress(GetModuleHandleA("KERNEL32"), "OpenVxDHandle"), nullptr);
  CloseHandle(OpenPortDriver());
  EXPECT_EQ(sim->Opens("\\\\.\\RERODE"), 1);
  EXPECT_EQ(sim->Closes("\\\\.\\RERODE"), 1);

  ASSERT_NE(UseMachine(R"({"platform":"win95","openVxDHandle":false})"), nullptr);
  EXPECT_EQ(GetProcAddress(GetModuleHandleA("KERNEL32"), "OpenVxDHandle"), nullptr);
}

class PortDriver : public ::testing::Test {
 protected:
  void Load(const char* json) {
    sim = UseMachine(json);
    ASSERT_NE(sim, nullptr);
    driver = OpenPortDriver();
    ASSERT_NE(driver, INVALID_HANDLE_VALUE);
    event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    auto open = reinterpret_cast<OpenVxDHandleProc>(GetProcAddress(GetModuleHandleA("KERNEL32"), "OpenVxDHandle"));
    ASSERT_NE(open, nullptr);
    ringZero = open(event);
  }

  // A per-unit or per-row query with a 4-byte input word.
  bool Query(DWORD code, DWORD input, void* out, DWORD outSize) {
    DWORD returned = 0;
    return DeviceIoControl(driver, code, &input, 4, out, outSize, &returned, nullptr) == TRUE;
  }
  DWORD Word(DWORD code, DWORD input) {
    DWORD reply = 0xDEADBEEF;
    EXPECT_TRUE(Query(code, input, &reply, 4)) << "code " << code << " input " << input;
    return reply;
  }

  bool Attach(void* buffer, DWORD length) {
    block[1] = 0;
    block[2] = 0;
    block[3] = length;
    block[4] = PtrToUlong(buffer);
    block[5] = 255;
    DWORD returned = 0;
    return DeviceIoControl(driver, 14, block, 32, nullptr, 0, &returned, nullptr) == TRUE;
  }

  bool Send(DWORD code, DWORD unit, DWORD start, DWORD count, DWORD flags = 0, void* buffer = nullptr) {
    block[0] = unit;
    block[1] = 512;
    block[2] = start;
    block[3] = count;
    block[4] = PtrToUlong(buffer ? buffer : data.data());
    block[5] = 255;
    block[6] = ringZero;
    block[7] = flags;
    DWORD returned = 0;
    return DeviceIoControl(driver, code, block, 32, nullptr, 0, &returned, nullptr) == TRUE;
  }

  LONG Status() const { return static_cast<LONG>(block[5]); }

  SimMachine* sim = nullptr;
  HANDLE driver = INVALID_HANDLE_VALUE;
  HANDLE event = 0;
  DWORD ringZero = 0;
  DWORD block[8] = {};
  std::vector<BYTE> data = std::vector<BYTE>(65536);
};

const char* kUnits = R"({"platform":"win95","portDriver":{"units":[
  {"type":0,"capacity":123456,"name":"ACME IDE","devNode":43981,"flags":4,"maxTransfer":-1,"drive":{"sectors":2000}},
  {"type":10,"fails":["type","name"],"maxTransfer":32768},
  {"fails":["capacity","devNode","flags","maxTransfer"]}]}})";

TEST_F(PortDriver, UnitQueriesByUnitNumberAndRowQueriesByRow) {
  Load(kUnits);
  DWORD reply = 0, returned = 0;
  ASSERT_TRUE(DeviceIoControl(driver, 1, nullptr, 0, &reply, 4, &returned, nullptr));
  EXPECT_EQ(reply, 3u);
  ASSERT_TRUE(DeviceIoControl(driver, 12, nullptr, 0, &reply, 4, &returned, nullptr));
  EXPECT_EQ(reply, 259u);

  EXPECT_EQ(Word(5, 0), 0u);
  DWORD capacity[2] = {};
  ASSERT_TRUE(Query(6, 0, capacity, 8));
  EXPECT_EQ(capacity[0], 123456u);
  EXPECT_EQ(Word(10, 0), 43981u);
  char name[100];
  std::memset(name, 'z', sizeof(name));
  ASSERT_TRUE(Query(4, 0, name, 100));
  EXPECT_EQ(std::string(name, 100), "ACME IDE" + std::string(92, '\0'));

  BYTE scratch[100];
  EXPECT_FALSE(Query(5, 1, scratch, 4));
  EXPECT_FALSE(Query(4, 1, scratch, 100));
  ASSERT_TRUE(Query(6, 1, capacity, 8));
  EXPECT_EQ(capacity[0], 0u);
  EXPECT_FALSE(Query(6, 2, scratch, 8));
  EXPECT_FALSE(Query(10, 2, scratch, 4));
  EXPECT_FALSE(Query(5, 3, scratch, 4));  // no unit 3

  // Flags and the largest transfer are asked by row, 1 for unit 0.
  EXPECT_EQ(Word(16, 1), 4u);
  EXPECT_EQ(Word(16, 2), 0u);
  EXPECT_EQ(Word(17, 1), 0xFFFFFFFFu);
  EXPECT_EQ(Word(17, 2), 32768u);
  EXPECT_FALSE(Query(16, 3, scratch, 4));  // unit 2 fails it
  EXPECT_FALSE(Query(16, 0, scratch, 4));
  EXPECT_FALSE(Query(17, 4, scratch, 4));
}

TEST_F(PortDriver, EveryCodeTakesExactlyItsBufferSizes) {
  Load(kUnits);
  struct Call {
    DWORD code, inSize, outSize;
  };
  const Call wrong[] = {{1, 0, 8},  {1, 4, 4},  {12, 4, 4}, {4, 4, 99}, {5, 4, 8},  {6, 4, 4},  {10, 0, 4},
                        {16, 4, 8}, {17, 8, 4}, {2, 31, 0}, {2, 32, 4}, {11, 33, 0}, {14, 16, 0}, {15, 4, 0},
                        {99, 0, 0}};
  BYTE in[64] = {}, out[128] = {};
  DWORD returned = 0;
  for (const Call& c : wrong) {
    EXPECT_FALSE(DeviceIoControl(driver, c.code, in, c.inSize, out, c.outSize, &returned, nullptr))
        << "code " << c.code << " in " << c.inSize << " out " << c.outSize;
  }
  EXPECT_TRUE(DeviceIoControl(driver, 15, nullptr, 0, nullptr, 0, &returned, nullptr));
}

const char* kTransfers = R"({"platform":"win95","frequency":3579545,"portDriver":{"units":[
  {"drive":{"sectors":2000,"timing":{"seek":1000,"readStart":64,"readEnd":64}}},
  {"status":2,"drive":{"sectors":100}}]}})";

TEST_F(PortDriver, RequestsMoveDataWriteStatusAndSignal) {
  Load(kTransfers);
  ASSERT_TRUE(Attach(data.data(), 65536));
  const SimPortRequest* attach = sim->LastRequest(14);
  ASSERT_NE(attach, nullptr);
  EXPECT_EQ(attach->count, 65536u);
  EXPECT_EQ(attach->buffer, PtrToUlong(data.data()));

  for (std::size_t i = 0; i < 2048; ++i) data[i] = static_cast<BYTE>(i % 251);
  std::int64_t before = Now();
  ASSERT_TRUE(Send(11, 0, 100, 4));
  EXPECT_EQ(Now() - before, 1000 + 4 * 512 * 64 / 1024);  // seek from sector 0, then the rate
  EXPECT_EQ(Status(), 0);
  EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);

  std::vector<BYTE> written(data.begin(), data.begin() + 2048);
  std::fill(data.begin(), data.end(), 0);
  ASSERT_TRUE(Send(2, 0, 100, 4, 5));
  EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);
  EXPECT_EQ(Status(), 0);
  EXPECT_EQ(std::vector<BYTE>(data.begin(), data.begin() + 2048), written);
  const SimPortRequest* read = sim->LastRequest(2);
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->device, 0u);
  EXPECT_EQ(read->sectorSize, 512u);
  EXPECT_EQ(read->start, 100u);
  EXPECT_EQ(read->count, 4u);
  EXPECT_EQ(read->buffer, PtrToUlong(data.data()));
  EXPECT_EQ(read->status, 255);
  EXPECT_EQ(read->event, ringZero);
  EXPECT_EQ(read->flags, 5u);

  ASSERT_TRUE(Send(2, 1, 0, 1));
  EXPECT_EQ(Status(), 2);  // the unit's own success status
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
}

TEST_F(PortDriver, FailedAndRefusedRequestsCompleteWithAFailureStatus) {
  Load(kTransfers);
  ASSERT_TRUE(Attach(data.data(), 65536));
  std::vector<BYTE> other(512);
  struct Case {
    const char* what;
    DWORD unit, start, count;
    void* buffer;
  };
  const Case cases[] = {
      {"runs past the end", 0, 1999, 2, nullptr},
      {"more than the announced buffer", 0, 0, 129, nullptr},
      {"a buffer never announced", 0, 0, 1, other.data()},
      {"no such unit", 7, 0, 1, nullptr},
  };
  for (const Case& c : cases) {
    Send(2, c.unit, c.start, c.count, 0, c.buffer);
    EXPECT_EQ(Status(), SimPortDriver::kFailedStatus) << c.what;
    EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0) << c.what;
  }
  // Only the first reached the medium.
  EXPECT_EQ(sim->UnitMedium(0)->reads(), 1);
}

const char* kLostAndLate = R"({"platform":"win95","frequency":3579545,"portDriver":{"units":[
  {"completion":"never","drive":{"sectors":100}},
  {"completion":"late","drive":{"sectors":100}}]}})";

TEST_F(PortDriver, NeverCompletedRequestTimesOutAfterFiveVirtualSeconds) {
  Load(kLostAndLate);
  ASSERT_TRUE(Attach(data.data(), 65536));
  ASSERT_TRUE(Send(2, 0, 0, 1));
  std::int64_t before = Now();
  EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_TIMEOUT);
  EXPECT_EQ(Now() - before, 5000ll * 3579545 / 1000);
  EXPECT_EQ(Status(), 255);
  EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_TIMEOUT);  // nor later
}

TEST_F(PortDriver, LateCompletionLeavesAStraySignalForTheNextWait) {
  Load(kLostAndLate);
  ASSERT_TRUE(Attach(data.data(), 65536));
  ASSERT_TRUE(Send(2, 1, 0, 1));
  EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_TIMEOUT);
  EXPECT_EQ(Status(), 0);  // completed once the wait had given up

  ASSERT_TRUE(Send(2, 1, 1, 1));
  std::int64_t before = Now();
  EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_OBJECT_0);  // the first request's signal
  EXPECT_EQ(Now(), before);
  EXPECT_EQ(Status(), 255);  // this request has not completed
  EXPECT_EQ(WaitForSingleObject(event, 5000), WAIT_TIMEOUT);
  EXPECT_EQ(Status(), 0);
}

}  // namespace
