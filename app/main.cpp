// SPDX-License-Identifier: GPL-3.0-or-later
// varnel: the dialog program.
#include "app/VarnelApp.h"

int main(int argc, char* argv[]) { return g_theApp.Run(argc, argv); }
