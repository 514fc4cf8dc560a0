// Machine files: what a bad one is refused with, and what an empty one means.
#include <gtest/gtest.h>

#include <string>

#include "sim_test_util.h"

namespace {

struct BadFile {
  const char* json;
  const char* error;  // expected inside the error line
};

TEST(MachineFile, BadFilesAreRefusedWithOneLineNamingThePlace) {
  const std::string longName(101, 'x');
  const std::string nameTooLong = R"({"platform":"win95","portDriver":{"units":[{"name":")" + longName + R"("}]}})";
  const BadFile cases[] = {
      {"{\n  \"drives\": [\n    {\"sectors\": 10,}\n  ]\n}", "test.json: line 3, column 20: invalid JSON"},
      {R"({"drives":[{"sectors":10}])", "test.json: line 1, column 27: invalid JSON"},
      {"[]", "test.json: (top level): must be an object"},
      {R"({"drivez":[]})", "test.json: drivez: unknown key"},
      {R"({"drives":[{"sectors":-1}]})", "test.json: drives[0].sectors: must be a non-negative integer"},
      {R"({"drives":[{"sectors":"10"}]})", "drives[0].sectors: must be a non-negative integer"},
      {R"({"drives":[{"sectors":10.5}]})", "drives[0].sectors: must be a non-negative integer"},
      {R"({"drives":[{"sectorSize":512}]})", "drives[0].sectors: missing"},
      {R"({"drives":[{"sectors":10,"sectorSize":0}]})", "drives[0].sectorSize: must be an integer from 1 to 4294967295"},
      {R"({"drives":[{"sectors":10,"sector":1}]})", "drives[0].sector: unknown key"},
      {R"({"drives":[{"sectors":10},{"sectors":10,"timing":{"seek":-5}}]})",
       "drives[1].timing.seek: must be a non-negative integer"},
      {R"({"drives":[{"sectors":10,"timing":{"readRate":5}}]})", "drives[0].timing.readRate: unknown key"},
      {R"({"drives":[{"sectors":10,"open":1}]})", "drives[0].open: must be true or false"},
      {R"({"drives":[{"sectors":10,"bad":[[5]]}]})", "drives[0].bad[0]: must be a [first, count] pair"},
      {R"({"drives":[{"sectors":10,"bad":[[5,0]]}]})", "drives[0].bad[0][1]: must be a positive integer"},
      {R"({"drives":[{"sectors":10,"short":[[8,5]]}]})", "drives[0].short[0]: lies outside the medium's 10 sectors"},
      {R"({"drives":[{"sectors":10,"bad":{"first":1}}]})", "drives[0].bad: must be a list"},
      {R"({"drives":[{"sectors":10,"geometry":"broken"}]})", R"(drives[0].geometry: must be an object or "fails")"},
      {R"({"drives":[{"sectors":10,"geometry":{"heads":4}}]})", "drives[0].geometry.heads: unknown key"},
      {R"({"drives":[{"sectors":10,"layout":[0,256]}]})", "drives[0].layout[1]: must be an integer from 0 to 255"},
      {R"({"drives":[{"sectors":10,"scsi":{"port":300}}]})", "drives[0].scsi.port: must be an integer from 0 to 255"},
      {R"({"drives":[{"sectors":10,"image":"no-such-file.img"}]})", "drives[0].image: no such image file"},
      {R"({"drives":[{"sectors":10,"identifier":"A"},{"sectors":10,"identifier":"B"}]})",
       "drives[1].identifier: another drive already names this SCSI address"},
      {R"({"platform":"win98"})", R"(platform: must be one of "nt", "win95")"},
      {R"({"clock":"wall"})", R"(clock: must be one of "virtual", "real")"},
      {R"({"frequency":0})", "frequency: must be a positive integer"},
      {R"({"frequency":18446744073709551615})", "frequency: must be a positive integer"},
      {R"({"openVxDHandle":"yes"})", "openVxDHandle: must be true or false"},
      {R"({"floppies":{"C":{"sectors":2880}}})", "floppies.C: must be a drive letter from A to B"},
      {R"({"cdroms":{"E":{"sectorSize":2048}}})", "cdroms.E.sectors: missing"},
      {R"({"portDriver":{"units":[{"completion":"sometimes"}]}})",
       R"(portDriver.units[0].completion: must be one of "normal", "never", "late")"},
      {R"({"portDriver":{"units":[{"fails":["size"]}]}})", "portDriver.units[0].fails[0]: must be one of"},
      {R"({"portDriver":{"units":[{},{"drive":{"sectors":5,"timing":{"readEnd":-1}}}]}})",
       "portDriver.units[1].drive.timing.readEnd: must be a non-negative integer"},
      {R"({"portDriver":{"units":[{"capacity":4294967296}]}})",
       "portDriver.units[0].capacity: must be an integer from 0 to 4294967295"},
      {nameTooLong.c_str(), "portDriver.units[0].name: is longer than the 100 bytes"},
      {R"({"registry":{"HKEY_CURRENT_USER\\X":{}}})", "must start with HKEY_LOCAL_MACHINE\\ or HKEY_DYN_DATA\\"},
      {R"({"registry":{"HKEY_LOCAL_MACHINE\\Enum\\X":{"V":7}}})",
       R"(registry["HKEY_LOCAL_MACHINE\Enum\X"]["V"]: must be a text)"},
      {R"({"volumes":{"C":{"driveType":9}}})", "volumes.C.driveType: must be an integer from 0 to 6"},
      {R"({"volumes":{"CD":{}}})", "volumes.CD: must be a drive letter from A to Z"},
  };
  for (const BadFile& c : cases) {
    SimLoadResult r = LoadMachineText(c.json, ".", "test.json");
    EXPECT_EQ(r.machine, nullptr) << c.json;
    EXPECT_NE(r.error.find(c.error), std::string::npos) << "got: " << r.error << "\nfor: " << c.json;
    EXPECT_EQ(r.error.rfind("test.json: ", 0), 0u) << r.error;
    EXPECT_EQ(r.error.find('\n'), std::string::npos) << r.error;
  }
}

TEST(MachineFile, MissingFileIsNamed) {
  SimLoadResult r = LoadMachineFile("/nonexistent/dir/machine.json");
  EXPECT_EQ(r.machine, nullptr);
  EXPECT_EQ(r.error.rfind("/nonexistent/dir/machine.json: ", 0), 0u) << r.error;
}

TEST(MachineFile, EmptyFileIsAnNtMachineWithAMegahertzVirtualCounter) {
  ASSERT_NE(UseMachine("{}"), nullptr);
  OSVERSIONINFOA v{};
  v.dwOSVersionInfoSize = sizeof(v);
  ASSERT_TRUE(GetVersionExA(&v));
  EXPECT_EQ(v.dwPlatformId, VER_PLATFORM_WIN32_NT);
  LARGE_INTEGER f{};
  ASSERT_TRUE(QueryPerformanceFrequency(&f));
  EXPECT_EQ(f.QuadPart, 1000000);
  std::int64_t before = Now();
  Sleep(250);
  EXPECT_EQ(Now() - before, 250000);
  EXPECT_EQ(OpenDevice("\\\\.\\PHYSICALDRIVE0"), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetDriveTypeA("C:\\"), DRIVE_NO_ROOT_DIR);
}

}  // namespace
