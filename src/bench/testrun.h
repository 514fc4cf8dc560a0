#pragma once

class Tfm;

// One whole test on the current drive, started by the main window.
void RunTest(Tfm& form);
