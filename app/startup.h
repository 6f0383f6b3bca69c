// The program's start-up after the application object exists: the window hooks, then the
// five windows in their order, the main window shown in the middle of the screen.
#pragma once

void StartUp();
