// The main window: the drive list, the test options and "Run Test".
#pragma once

#include "vcl.h"

class Tfm : public TForm {
 public:
  Tfm();

  TLabel* Label2;
  TComboBox* cbdrive;
  TButton* Button2;
  TCheckBox* cbwrite;
  TCheckBox* cbSizeCheck;
  TLabel* Label3;

  void FormCreate(TObject* sender);
  void cbdriveChange(TObject* sender);
  void cbwriteClick(TObject* sender);
  void Button2Click(TObject* sender);

 private:
  // The drive list and the options stay fixed while a run reads them.
  void LockOptions(bool locked);
};

extern Tfm* fm;

// The list entry of a drive-table row.
std::string DriveEntryText(int row);
