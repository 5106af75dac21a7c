// SPDX-License-Identifier: GPL-3.0-or-later
// CVarnelApp: the application object that starts COM and runs the main window once.
#pragma once

// Exactly one instance exists (g_theApp), constructed when the program is loaded; it holds no
// state. Run stands for the framework's entry point: it brings up the Qt application for the
// command line, runs InitInstance and ends the process without a message loop of its own, since
// InitInstance returns false. The main dialog lives on InitInstance's stack: closing it ends the
// program, and nothing it opened outlives it.
class CVarnelApp {
  public:
    CVarnelApp() = default;
    CVarnelApp(const CVarnelApp&) = delete;
    CVarnelApp& operator=(const CVarnelApp&) = delete;

    // Returns the process exit code (0; the dialog's result is not examined).
    int Run(int argc, char** argv);

    // Start-up: the dialog object is constructed before COM starts; its window and every media
    // object come into being only when the dialog runs, after COM has started. Returns false.
    bool InitInstance();
};

extern CVarnelApp g_theApp;
