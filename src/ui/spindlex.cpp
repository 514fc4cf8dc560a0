#include "spindlex.h"

#include "../drive/rerode.h"
#include "ufg.h"
#include "vcl.h"
#include "windows.h"
#include "zodu1.h"

void SpindlexMain() {
  if (!DiscoverDrives(true, "0A")) {
    MessageBoxA(0, "Error opening RERODE.VXD.", "ZIZADU", MB_OK);
    return;
  }
  Application->Initialize();
  Application->SetTitle("Spindlex");
  Application->CreateForm(fm);
  Application->CreateForm(fg);
  fm->Show();
  Application->Run();
}
