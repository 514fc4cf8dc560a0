// The program's entry: discovery, then the two windows and the message loop.
#pragma once

void SpindlexMain();
