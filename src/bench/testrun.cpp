// One whole test run: set-up, access time and burst, the results window,
// the sweeps, the processor load, the summary and the teardown.
#include "testrun.h"

#include "../drive/rerode.h"
#include "../ui/ufg.h"
#include "../ui/zodu1.h"
#include "phases.h"
#include "system.h"

namespace {

void ProcessMessages(int times) {
  for (int i = 0; i < times; ++i) Application->ProcessMessages();
}

void PrepareResultsWindow(RunState& run) {
  fg->Hide();
  fg->Series2->Clear();
  fg->Series2->AddXY(run.AccessTimeMs, run.AccessTimeMs, "", clTeeColor);
  if (run.AccessTimeMs > 25.0) fg->Chart2->BottomAxis().SetMaximum(1.3 * run.AccessTimeMs);
  fg->Chart2->Repaint();
  fg->Series3->Clear();
  fg->Chart3->BottomAxis().SetMaximum(80.0);
  fg->Series3->AddXY(run.BurstKBps / 1024, run.BurstKBps / 1024, "", clTeeColor);
  StartIdleThread();
  run.SweepSeconds = 0.0;
  run.IdleDuringSweep = 0;
  fg->Chart3->Repaint();
  fg->Series1->Clear();
  fg->Series4->Clear();
  TChartAxis& position = fg->Chart1->BottomAxis();
  position.SetAutomatic(false);
  position.SetMinimum(0);
  position.SetMaximum((run.ZoneCount - 1) * 32.0);
  fg->Button1->SetCaption("Cancel");
  fg->Label3->SetCaption("");
  fg->Label4->SetCaption("");
  fg->Label5->SetCaption("");
}

bool WriteTestAllowed(const Tfm& form, const RunState& run) {
  const DriveRow& drive = CurrentRow();
  return !fg->CancelRequested && form.cbwrite->Checked() && run.TransferOk &&
         (drive.LetterText.empty() || drive.IsRemovable);
}

void Measure(Tfm& form, RunState& run) {
  form.Label3->SetCaption("Testing random access speed.");
  form.Label3->SetVisible(true);
  ProcessMessages(4);
  MeasureAccessTime(run);
  if (run.TransferOk) {
    form.Label3->SetCaption("Testing read burst speed.");
    form.Label3->SetVisible(true);
    ProcessMessages(1);
    MeasureBurst(run);
  }
  if (!run.TransferOk) return;
  ReadSectors(run.LastSector, 1, 0);  // its outcome does not count
  Sleep(500);

  PrepareResultsWindow(run);
  fg->Show();
  ProcessMessages(1);
  form.Hide();
  ProcessMessages(1);
  Sleep(500);

  SweepZones(run, true, fg->Series1);
  fg->Chart1->Repaint();
  if (WriteTestAllowed(form, run)) SweepZones(run, false, fg->Series4);
  fg->Chart1->Repaint();
  if (run.TransferOk && !fg->CancelRequested) MeasureCpuLoad(run);
  if (run.TransferOk && !fg->CancelRequested) WriteSummary(run);
}

// What every run that opened its log does last, whatever happened.
void Teardown(Tfm& form) {
  form.Label3->SetVisible(false);
  ReturnWindow = &form;
  fg->Button1->SetCaption("&Ok");
}

void Release(RunState& run) {
  run.LogFile.Close();
  StopIdleThread();
  EndTransfers();
}

}  // namespace

std::int32_t ClampMaxTransfer(std::int32_t bytes) {
  if (bytes == -1) bytes = 65536;
  if (bytes > 65536) bytes = 65536;
  if (bytes < 32768) bytes = 32768;
  return bytes;
}

void RunTest(Tfm& form) {
  RunState run;
  const DriveRow& drive = CurrentRow();
  run.LastSector = drive.TotalSectors - 1;
  run.MaxTransfer = 65536;
  AttachBuffer(Bench.TransferBuffer, kTransferBufferBytes);
  if (Drives.DriverMode) {
    run.DeviceFlags = QueryDeviceFlags();
    run.MaxTransfer = ClampMaxTransfer(QueryMaxTransfer());
    if (run.DeviceFlags & 4) {
      MessageDlg("Device not supported (1).", mtError, mbOK, 0);
      win32::Halt(0);
    }
  }
  if (form.cbSizeCheck->Checked() && drive.TotalSectors > 2000000) ProbeDriveSize(run);
  run.BlockSectors = 32768 / drive.SectorSize;
  if (!run.LogFile.Rewrite("spindlex.log")) {
    MessageDlg("Error opening spindlex.log", mtError, mbOK, 0);
    EndTransfers();
    win32::Halt(0);
  }
  fg->CancelRequested = false;
  PlanZones(run);

  try {
    Measure(form, run);
    Teardown(form);
    if (!run.TransferOk) run.LogFile.WriteLine("Read/write error.");
  } catch (const EInOutError& error) {
    // The log cannot take another line: end the run cleanly and say why;
    // the program goes on.
    Teardown(form);
    Release(run);
    MessageDlg("Error writing " + std::string(error.what()) + ".", mtError, mbOK, 0);
    if (run.TransferOk) return;
    MessageDlg("Read or write error, test halted.", mtError, mbOK, 0);
    win32::Halt(0);
  }
  Release(run);
  if (!run.TransferOk) {
    MessageDlg("Read or write error, test halted.", mtError, mbOK, 0);
    win32::Halt(0);
  }
}
