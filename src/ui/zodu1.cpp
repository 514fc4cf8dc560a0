#include "zodu1.h"

#include "../bench/testrun.h"
#include "../drive/rerode.h"

Tfm* fm = nullptr;

Tfm::Tfm() : TForm("fm") {
  SetCaption("Spindlex version 2.61");
  SetClientSize(365, 138);
  SetBorderStyle(bsSingle);
  SetBorderIcons(biSystemMenu);
  SetPosition(poScreenCenter);
  TFont font;  // MS Sans Serif, 8 point at 96 pixels per inch
  font.Height = 11;
  SetFont(font);

  Label2 = Add<TLabel>("Label2");
  Label2->SetBounds(10, 5, 58, 13);
  Label2->SetCaption("Select Drive");
  Label2->SetFont(font);

  cbdrive = Add<TComboBox>("cbdrive");
  cbdrive->SetBounds(8, 23, 264, 21);
  cbdrive->SetFont(font);
  cbdrive->SetTabOrder(0);
  cbdrive->OnChange = [this](TObject* s) { cbdriveChange(s); };

  Button2 = Add<TButton>("Button2");
  Button2->SetBounds(285, 20, 75, 25);
  Button2->SetCaption("Run Test");
  Button2->SetDefault(true);
  Button2->SetFont(font);
  Button2->SetTabOrder(1);
  Button2->OnClick = [this](TObject* s) { Button2Click(s); };

  cbwrite = Add<TCheckBox>("cbwrite");
  cbwrite->SetBounds(8, 51, 260, 17);
  cbwrite->SetCaption("Enable write test");
  cbwrite->SetFont(font);
  cbwrite->SetTabOrder(2);
  cbwrite->OnClick = [this](TObject* s) { cbwriteClick(s); };

  cbSizeCheck = Add<TCheckBox>("cbSizeCheck");
  cbSizeCheck->SetBounds(138, 50, 125, 17);
  cbSizeCheck->SetCaption("Advanced size check");
  cbSizeCheck->SetFont(font);
  cbSizeCheck->SetTabOrder(3);

  Label3 = Add<TLabel>("Label3");
  Label3->SetBounds(10, 73, 48, 15);
  TFont status;
  status.Name = "Fixedsys";
  status.Height = 16;
  status.Color = clRed;
  Label3->SetFont(status);
  Label3->SetVisible(false);

  OnCreate = [this](TObject* s) { FormCreate(s); };
}

std::string DriveEntryText(int row) {
  const DriveRow& r = Drives.Row[row];
  if (!r.LetterText.empty() && !r.IsRemovable) return "(Read Only) " + r.LetterText + ": " + r.DriveName;
  return "(Read/Write) " + r.DriveName;
}

void Tfm::FormCreate(TObject*) {
  cbdrive->ClearItems();
  for (int i = 1; i <= Drives.DriveCount; ++i) cbdrive->AddItem(DriveEntryText(i));
  cbdrive->SetItemIndex(0);
  SelectDrive(1);
  cbwrite->SetChecked(false);
}

void Tfm::cbdriveChange(TObject*) {
  SelectDrive(cbdrive->ItemIndex() + 1);
  cbwrite->SetChecked(false);
}

void Tfm::cbwriteClick(TObject*) {
  if (!cbwrite->Checked()) return;
  const DriveRow& r = CurrentRow();
  if (!r.IsRemovable && !r.LetterText.empty()) {
    MessageDlg("Write test is only available on non-partitioned (blank) drives!", mtInformation, mbOK, 0);
    cbwrite->SetChecked(false);
  } else if (r.IsRemovable) {
    if (MessageDlg("This is a removable drive.  Write tests will destroy data written on this disk. Continue?",
                   mtInformation, mbYes | mbNo, 0) != mrYes) {
      cbwrite->SetChecked(false);
    }
  } else if (MessageDlg("Write tests will only be performed on non-partitioned hard drives.  If you have a drive "
                        "that is fully partitioned with NTFS, Unix, Linux, or any other non-DOS operating system "
                        "the data will be destroyed.  Continue?",
                        mtInformation, mbYes | mbNo, 0) != mrYes) {
    cbwrite->SetChecked(false);
  }
}

void Tfm::LockOptions(bool locked) {
  cbdrive->SetEnabled(!locked);
  cbwrite->SetEnabled(!locked);
  cbSizeCheck->SetEnabled(!locked);
  Button2->SetEnabled(!locked);
}

void Tfm::Button2Click(TObject*) {
  const DriveRow& r = CurrentRow();
  // A sector size of 0 (a volume that could not be read) would divide by
  // zero in the zone plan: it gets the no-media message too.
  if (r.TotalSectors == 0 || r.SectorSize <= 0 || r.SectorSize > 2048 || r.SectorSize % 512 != 0) {
    MessageDlg("No media in drive, load media, quit Spindlex, and start again.", mtInformation, mbOK, 0);
    return;
  }
  LockOptions(true);
  RunTest(*this);
  LockOptions(false);
}
